// Filling the input-device list and finding an entry by number or name.
#include "capture/device_list.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "dsp/rate_converter.h"

namespace qv {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool IsNumber(const std::string& text) {
    return !text.empty() && text.size() <= 9 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "0, 2 and 5": the device numbers (or names, for stand-ins) of some entries.
std::string Describe(const DeviceList& list, const std::vector<int>& indices) {
    std::string text;
    for (size_t i = 0; i < indices.size(); ++i) {
        if (i > 0) text += i + 1 == indices.size() ? " and " : ", ";
        const DeviceEntry& entry = list.Entries[indices[i]];
        text += entry.Kind == EntryKind::SoundCard ? std::to_string(entry.DeviceNumber)
                                                   : "\"" + entry.Name + "\"";
    }
    return text;
}

}  // namespace

std::string PlaybackEntryName(const std::string& path) { return "Recording " + path; }

std::string DeviceListingLine(const DeviceEntry& entry) {
    char columns[48];
    const std::string rate = entry.DefaultRate > 0 ? std::to_string(entry.DefaultRate) : "?";
    std::snprintf(columns, sizeof columns, "%4d  %2d ch  %6s Hz  ", entry.DeviceNumber,
                  entry.InputChannels, rate.c_str());
    return columns + entry.Name;
}

int ChooseDeviceRate(int asked, int defaultRate, const std::function<bool(int)>& offers,
                     const std::string& device, std::string& error, bool convertsEveryRate) {
    // Asking a device opens it: only as many rates are tried as the choice needs.
    if (asked > 0 && offers(asked)) return asked;
    if (asked <= 0) {
        const int first = convertsEveryRate ? defaultRate : kFramesPerSecond;
        const int second = convertsEveryRate ? kFramesPerSecond : defaultRate;
        for (int rate : {first, second, 48000, 44100}) {
            if (IsInputRate(rate) && offers(rate)) return rate;
        }
    }
    std::vector<int> offered;
    for (int rate : kInputRates) {
        if (rate != asked && offers(rate)) offered.push_back(rate);
    }
    if (asked <= 0 && !offered.empty()) return offered.front();
    error = device + " cannot deliver " +
            (asked > 0 ? std::to_string(asked) + " frames per second" : "any rate measured");
    if (offered.empty()) {
        error += asked > 0 ? ", nor any of the rates measured (" + InputRatesText() + ")"
                           : " (" + InputRatesText() + ")";
        return 0;
    }
    error += "; it offers ";
    for (size_t i = 0; i < offered.size(); ++i) {
        if (i > 0) error += i + 1 == offered.size() ? " and " : ", ";
        error += std::to_string(offered[i]);
    }
    error += offered.size() == 1 ? ": give it with --rate" : ": give one with --rate";
    return 0;
}

void ListInputDevices(DeviceList& list, DeviceEnumerator& enumerator, const ExtraSources& extras,
                      const WarningSink& warn) {
    list = DeviceList{};
    if (extras.Simulate) {
        list.Entries.push_back({kSimulatorEntryName, -1, EntryKind::Simulator, 0, 0});
    }
    if (!extras.PlayPath.empty()) {
        list.Entries.push_back({PlaybackEntryName(extras.PlayPath), -1, EntryKind::Playback, 0, 0});
    }
    std::vector<DeviceCapabilities> devices;
    if (!enumerator.EnumerateDevices(devices, list.EnumerationError)) devices.clear();
    for (size_t d = 0; d < devices.size(); ++d) {
        // A device the sound system cannot describe is left out, like one without inputs.
        if (!devices[d].Queried || devices[d].InputChannels <= 0) continue;
        list.Entries.push_back({devices[d].Name, static_cast<int>(d), EntryKind::SoundCard,
                                devices[d].InputChannels, devices[d].DefaultRate});
    }
    if (list.Entries.empty()) {
        if (warn) warn(kWarningCaption, kNoInputDevicesText);
        return;
    }
    list.Selected = 0;
}

const DeviceEntry* SelectedEntry(const DeviceList& list) {
    if (list.Selected < 0 || list.Selected >= static_cast<int>(list.Entries.size())) {
        return nullptr;
    }
    return &list.Entries[list.Selected];
}

int SelectedDeviceNumber(const DeviceList& list) {
    const DeviceEntry* entry = SelectedEntry(list);
    return entry != nullptr && entry->Kind == EntryKind::SoundCard ? entry->DeviceNumber : -1;
}

bool FindDevice(const DeviceList& list, const std::string& numberOrName, int& entryIndex,
                std::string& error) {
    const int count = static_cast<int>(list.Entries.size());
    if (IsNumber(numberOrName)) {
        const int number = std::stoi(numberOrName);
        for (int i = 0; i < count; ++i) {
            const DeviceEntry& entry = list.Entries[i];
            if (entry.Kind == EntryKind::SoundCard && entry.DeviceNumber == number) {
                entryIndex = i;
                return true;
            }
        }
        error = "--device " + numberOrName + ": no input device has the number " + numberOrName +
                " (--list-devices shows them)";
        return false;
    }
    std::vector<int> exact, partial;
    const std::string wanted = Lower(numberOrName);
    for (int i = 0; i < count; ++i) {
        const std::string& name = list.Entries[i].Name;
        if (name == numberOrName) exact.push_back(i);
        if (!wanted.empty() && Lower(name).find(wanted) != std::string::npos) partial.push_back(i);
    }
    const std::string quoted = "--device \"" + numberOrName + "\": ";
    if (exact.size() == 1 || (exact.empty() && partial.size() == 1)) {
        entryIndex = exact.empty() ? partial[0] : exact[0];
        return true;
    }
    if (exact.size() > 1) {
        error = quoted + std::to_string(exact.size()) + " input devices have this name (" +
                Describe(list, exact) + "); give the number";
    } else if (partial.size() > 1) {
        error = quoted + "fits " + std::to_string(partial.size()) + " input devices (" +
                Describe(list, partial) + "); give the number or the whole name";
    } else {
        error = quoted + "no input device has this name (--list-devices shows them)";
    }
    return false;
}

}  // namespace qv
