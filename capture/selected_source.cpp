// The block source for the device list's selected entry, on every platform.
#include <memory>

#include "capture/block_sources.h"
#include "capture/sound_system.h"

namespace qv {

std::unique_ptr<BlockSource> CreateSelectedSource(const DeviceList& list, SoundSystem& system,
                                                  const SimulatorSettings& simulator,
                                                  const std::string& playPath,
                                                  int framesPerSecond) {
    const DeviceEntry* entry = SelectedEntry(list);
    if (entry != nullptr && entry->Kind == EntryKind::Simulator) {
        SimulatorSettings settings = simulator;
        if (framesPerSecond > 0) settings.DeviceRate = framesPerSecond;
        return std::make_unique<SimulatorSource>(settings, -1);
    }
    if (entry != nullptr && entry->Kind == EntryKind::Playback) {
        return std::make_unique<WavPlaybackSource>(playPath);
    }
    return system.CreateInput(SelectedDeviceNumber(list), framesPerSecond);
}

}  // namespace qv
