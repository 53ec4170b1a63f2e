// The input-device list: which devices become entries, their numbers and names, the warning
// when there are none, the stand-in sources, and finding an entry by number or name.
#include "capture/device_list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace qv {

namespace {

class FakeEnumerator final : public DeviceEnumerator {
public:
    std::vector<DeviceCapabilities> devices;
    std::string failure;  // non-empty: the sound system cannot be asked

    bool EnumerateDevices(std::vector<DeviceCapabilities>& out, std::string& error) override {
        out = devices;
        error = failure;
        return failure.empty();
    }
};

DeviceCapabilities Device(std::string name, int inputs) { return {true, std::move(name), inputs}; }

struct Listed {
    DeviceList List;
    std::vector<std::pair<std::string, std::string>> Warnings;  // caption, text
};

Listed List(const std::vector<DeviceCapabilities>& devices, ExtraSources extras = {},
            std::string failure = {}) {
    FakeEnumerator enumerator;
    enumerator.devices = devices;
    enumerator.failure = std::move(failure);
    Listed r;
    ListInputDevices(r.List, enumerator, extras, [&r](const std::string& c, const std::string& t) {
        r.Warnings.emplace_back(c, t);
    });
    return r;
}

TEST(DeviceList, NoDevicesWarnsOnceListsNothingAndStartTakesTheDefault) {
    const std::vector<std::vector<DeviceCapabilities>> cases = {
        {},
        {Device("Monitor only", 0), Device("HDMI out", 0)},
    };
    for (const auto& devices : cases) {
        Listed r = List(devices);
        ASSERT_EQ(r.Warnings.size(), 1u);
        EXPECT_EQ(r.Warnings[0].first, "Warning");
        EXPECT_EQ(r.Warnings[0].second, "You have no audio input devices!");
        EXPECT_TRUE(r.List.Entries.empty());
        EXPECT_EQ(r.List.Selected, -1);
        EXPECT_EQ(SelectedEntry(r.List), nullptr);
        EXPECT_EQ(SelectedDeviceNumber(r.List), -1);
    }
    Listed failed = List({}, {}, "the sound system cannot start: Host error");
    EXPECT_EQ(failed.Warnings.size(), 1u);
    EXPECT_EQ(failed.List.EnumerationError, "the sound system cannot start: Host error");
}

TEST(DeviceList, DevicesWithoutInputsAreSkippedAndTheOthersKeepTheirNumbers) {
    const std::string longName =
        "HDA Intel PCH: ALC3246 Analog (hw:0,0) with a name far longer than 31 characters";
    Listed r = List({Device(longName, 2), Device("HDMI 0", 0), Device("USB Audio CODEC", 1),
                     DeviceCapabilities{}, Device("pulse", 32)});
    EXPECT_TRUE(r.Warnings.empty());
    ASSERT_EQ(r.List.Entries.size(), 3u);
    EXPECT_EQ(r.List.Entries[0].Name, longName);  // whole, however long
    EXPECT_EQ(r.List.Entries[0].DeviceNumber, 0);
    EXPECT_EQ(r.List.Entries[1].Name, "USB Audio CODEC");
    EXPECT_EQ(r.List.Entries[1].DeviceNumber, 2);
    EXPECT_EQ(r.List.Entries[2].DeviceNumber, 4);  // the device that could not be queried: out
    EXPECT_EQ(r.List.Selected, 0);
    EXPECT_EQ(SelectedDeviceNumber(r.List), 0);
    r.List.Selected = 1;
    EXPECT_EQ(SelectedDeviceNumber(r.List), 2);
}

TEST(DeviceList, StandInSourcesComeFirstAndOpenNoDeviceNumber) {
    ExtraSources extras;
    extras.Simulate = true;
    extras.PlayPath = "night.wav";
    Listed r = List({}, extras);
    EXPECT_TRUE(r.Warnings.empty());  // the list is not empty
    ASSERT_EQ(r.List.Entries.size(), 2u);
    EXPECT_EQ(r.List.Entries[0].Name, "Simulated GPS receiver and radio");
    EXPECT_EQ(r.List.Entries[0].Kind, EntryKind::Simulator);
    EXPECT_EQ(r.List.Entries[1].Kind, EntryKind::Playback);
    EXPECT_EQ(r.List.Selected, 0);
    EXPECT_EQ(SelectedDeviceNumber(r.List), -1);
}

// The entry --device picks, or the error line.
std::string Find(const DeviceList& list, const std::string& wanted) {
    int index = -1;
    std::string error;
    if (!FindDevice(list, wanted, index, error)) return error;
    return std::to_string(list.Entries[index].DeviceNumber);
}

TEST(DeviceList, FindingByNumberOrNameAndDuplicateNames) {
    Listed r = List({Device("USB Audio", 2), Device("HDMI", 0), Device("USB Audio", 2),
                     Device("pulse", 32), Device("default", 32), Device("USB Audio Mk2", 2)});
    ASSERT_EQ(r.List.Entries.size(), 5u);
    // Two devices with the same name: two entries, each with its own device.
    EXPECT_EQ(r.List.Entries[0].Name, r.List.Entries[1].Name);
    EXPECT_EQ(r.List.Entries[1].DeviceNumber, 2);

    EXPECT_EQ(Find(r.List, "0"), "0");
    EXPECT_EQ(Find(r.List, "2"), "2");
    EXPECT_EQ(Find(r.List, "pulse"), "3");
    EXPECT_EQ(Find(r.List, "DEFAU"), "4");          // a unique part, case ignored
    EXPECT_EQ(Find(r.List, "USB Audio Mk2"), "5");  // exact beats the parts of other names
    EXPECT_EQ(Find(r.List, "1"),
              "--device 1: no input device has the number 1 (--list-devices shows them)");
    EXPECT_EQ(Find(r.List, "USB Audio"),
              "--device \"USB Audio\": 2 input devices have this name (0 and 2); give the number");
    EXPECT_EQ(Find(r.List, "s"),
              "--device \"s\": fits 4 input devices (0, 2, 3 and 5); give the number or the "
              "whole name");
    EXPECT_EQ(Find(r.List, "jack"),
              "--device \"jack\": no input device has this name (--list-devices shows them)");
}

}  // namespace

}  // namespace qv
