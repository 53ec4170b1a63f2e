// The waveIn sound system in-process on Windows, whatever devices the machine has (none, under
// Wine without a sound server): the device list, and a device that cannot be opened failing
// Start with winmm's own words and leaving the engine ended and reusable for nothing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_engine.h"
#include "capture/device_list.h"
#include "capture/sound_system.h"

namespace qv {

namespace {

class NoBlocks final : public CaptureNotifier {
public:
    void BlockFilled(CaptureBlock*) override { ++Posted; }
    void CaptureStopped() override { ++Stopped; }
    int Posted = 0, Stopped = 0;
};

TEST(WaveInput, DevicesAreListedByNameAndAMissingDeviceFailsStartWithWinmmsText) {
    CaptureEngine engine;
    SoundSystem system(engine.Audio);

    // Every device the system reports is described, with a name; the list keeps those that
    // report a format, in device order, and asks twice the same.
    std::vector<DeviceCapabilities> devices;
    std::string error;
    ASSERT_TRUE(system.EnumerateDevices(devices, error)) << error;
    for (size_t d = 0; d < devices.size(); ++d) {
        if (devices[d].Queried) {
            EXPECT_FALSE(devices[d].Name.empty()) << "device " << d;
        }
    }
    std::vector<DeviceCapabilities> again;
    ASSERT_TRUE(system.EnumerateDevices(again, error));
    ASSERT_EQ(again.size(), devices.size());
    for (size_t d = 0; d < devices.size(); ++d) EXPECT_EQ(again[d].Name, devices[d].Name);
    DeviceList list;
    int warnings = 0;
    ListInputDevices(list, system, ExtraSources{},
                     [&](const std::string&, const std::string&) { ++warnings; });
    EXPECT_EQ(warnings, list.Entries.empty() ? 1 : 0);
    for (size_t i = 1; i < list.Entries.size(); ++i) {
        EXPECT_LT(list.Entries[i - 1].DeviceNumber, list.Entries[i].DeviceNumber);
    }

    // A device number beyond every device: Start fails, says which device and why in winmm's
    // words, and the capture has ended for this run.
    const int missing = static_cast<int>(devices.size()) + 1000;
    NoBlocks notifier;
    std::string message;
    EXPECT_FALSE(StartCapture(engine, system.CreateInput(missing), notifier, message));
    EXPECT_EQ(message, kNoSuitableDevice);
    const std::string prefix = "device " + std::to_string(missing) + ": ";
    EXPECT_EQ(engine.ErrorDetail.compare(0, prefix.size(), prefix), 0) << engine.ErrorDetail;
    EXPECT_GT(engine.ErrorDetail.size(), prefix.size() + 10) << engine.ErrorDetail;
    EXPECT_EQ(engine.ErrorDetail.find("wave input error"), std::string::npos)
        << "winmm has a text for a bad device number: " << engine.ErrorDetail;
    EXPECT_EQ(engine.State, CaptureState::Ended);
    EXPECT_FALSE(StartCapture(engine, system.CreateInput(-1), notifier, message));
    EXPECT_EQ(message, kCaptureAlreadyStarted);
    EndCapture(engine);
    EXPECT_EQ(notifier.Posted + notifier.Stopped, 0);
}

}  // namespace

}  // namespace qv
