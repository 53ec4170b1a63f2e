// The list of input devices the user chooses from: the sound system's devices that have at
// least one input channel, in the sound system's order and with their full names, plus the
// stand-in sources the program was started with (simulator, WAV playback).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qv {

inline constexpr const char* kNoInputDevicesText = "You have no audio input devices!";
inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kSimulatorEntryName = "Simulated GPS receiver and radio";

// What the sound system says about one device.
struct DeviceCapabilities {
    bool Queried = false;  // false: the sound system could not describe this device number
    std::string Name;      // in full, however long
    int InputChannels = 0;
    int DefaultRate = 0;  // [frames/s] the rate the device runs at by default; 0: not known
};

// Asks the sound system for its devices (PortAudio, or a fake in tests).
class DeviceEnumerator {
public:
    // Every device, indexed by device number. False with the reason when the sound system
    // cannot be asked at all.
    virtual bool EnumerateDevices(std::vector<DeviceCapabilities>& devices, std::string& error) = 0;

protected:
    ~DeviceEnumerator() = default;
};

enum class EntryKind { SoundCard, Simulator, Playback };

struct DeviceEntry {
    std::string Name;
    int DeviceNumber = -1;  // the sound system's number; -1 for the stand-in sources
    EntryKind Kind = EntryKind::SoundCard;
    int InputChannels = 0;  // a sound card's, as the sound system says; 0 for stand-ins
    int DefaultRate = 0;    // [frames/s] a sound card's default rate; 0: not known
};

struct DeviceList {
    std::vector<DeviceEntry> Entries;
    int Selected = -1;             // index into Entries; -1: nothing selected
    std::string EnumerationError;  // why the sound system could not be asked, if it could not
};

// The stand-in sources the program was started with; they come first in the list.
struct ExtraSources {
    bool Simulate = false;  // --simulate: the signal simulator
    std::string PlayPath;   // --play FILE.wav: a recording played in real time
};

// Shows a message box (caption, text); the batch tool prints it instead.
using WarningSink = std::function<void(const std::string& caption, const std::string& text)>;

// Fills `list` once: the extra sources, then every device with an input channel, and selects
// the first entry. With no entry at all it shows the "Warning" once and selects nothing, and
// Start then tries the sound system's default input.
void ListInputDevices(DeviceList& list, DeviceEnumerator& enumerator, const ExtraSources& extras,
                      const WarningSink& warn);

// The selected entry, or nullptr.
const DeviceEntry* SelectedEntry(const DeviceList& list);
// The device number Start opens: the selected sound card's, -1 (the default input) otherwise.
int SelectedDeviceNumber(const DeviceList& list);

// The entry a command line names by device number or by name: an exact name first, else a
// part of one name (case ignored). False with one line in `error` when nothing or more than
// one entry fits.
bool FindDevice(const DeviceList& list, const std::string& numberOrName, int& entryIndex,
                std::string& error);

// The entry's name as shown in the recording entry for --play.
std::string PlaybackEntryName(const std::string& path);

// One line of --list-devices: number, input channels, default rate and the full name, the
// name last so that it may hold anything: "   3   2 ch   48000 Hz  USB Audio CODEC".
std::string DeviceListingLine(const DeviceEntry& entry);

// The rate a capture from a sound card runs at. `asked` [frames/s] (--rate; 0: none) when the
// device can deliver it; with none asked, 8000 where the device offers it, else its default
// rate where that is one the chain measures, else the first it offers of 48000, 44100 and the
// other measured rates. `offers(rate)` says whether the device can deliver a rate. Returns 0
// with one line in `error` (naming the device as `device`, saying which rates it offers and
// that --rate chooses one) when it cannot deliver what is asked, or any measured rate.
// `convertsEveryRate`: the device converts the rate it runs at to whatever is asked (a sound
// server's device), so its 8000 would be a resampling: with none asked its default rate comes
// first.
int ChooseDeviceRate(int asked, int defaultRate, const std::function<bool(int)>& offers,
                     const std::string& device, std::string& error, bool convertsEveryRate = false);

}  // namespace qv
