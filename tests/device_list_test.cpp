// The input-device list: which devices become entries, their numbers and names, the warning
// when there are none, the stand-in sources, and finding an entry by number or name.
#include "capture/device_list.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// --list-devices: number, channels and default rate in columns, the name last, whole.
TEST(DeviceList, ListingLinesShowChannelsAndDefaultRate) {
    const Listed r =
        List({{true, "USB Audio CODEC: - (hw:1,0)", 2, 48000},
              {true, "Monitor of a sink with a name far longer than any column", 1, 0}},
             {true, ""});
    ASSERT_EQ(r.List.Entries.size(), 3u);
    EXPECT_EQ(DeviceListingLine(r.List.Entries[1]),
              "   0   2 ch   48000 Hz  USB Audio CODEC: - (hw:1,0)");
    EXPECT_EQ(DeviceListingLine(r.List.Entries[2]),
              "   1   1 ch       ? Hz  Monitor of a sink with a name far longer than any column");
    EXPECT_EQ(r.List.Entries[0].DefaultRate, 0);  // the simulator: no device of its own
}

// The rate a capture takes: --rate when the device offers it; else 8000, the default rate,
// 48000, 44100, then any rate measured; and a line that says what to do when none fits.
TEST(DeviceList, CaptureRateIsAskedOrTheDevicesOwnAndARefusalSaysWhatItOffers) {
    std::vector<int> asked;  // every rate put to the device, in order
    const auto offering = [&asked](std::vector<int> rates) {
        asked.clear();
        return [&asked, rates](int rate) {
            asked.push_back(rate);
            return std::find(rates.begin(), rates.end(), rate) != rates.end();
        };
    };
    std::string error;
    EXPECT_EQ(ChooseDeviceRate(0, 44100, offering({8000, 44100, 48000}), "d", error), 8000);
    EXPECT_EQ(asked, std::vector<int>{8000});  // nothing more is asked of the device
    EXPECT_EQ(ChooseDeviceRate(0, 96000, offering({48000, 96000}), "d", error), 96000);
    // A sound server's device takes 8000 only by resampling: its own rate first.
    EXPECT_EQ(ChooseDeviceRate(0, 44100, offering({8000, 44100, 48000}), "d", error, true), 44100);
    EXPECT_EQ(ChooseDeviceRate(0, 37800, offering({44100, 48000}), "d", error), 48000);
    EXPECT_EQ(ChooseDeviceRate(0, 0, offering({22050}), "d", error), 22050);
    EXPECT_EQ(ChooseDeviceRate(192000, 48000, offering({48000, 192000}), "d", error), 192000);
    EXPECT_EQ(asked, std::vector<int>{192000});
    EXPECT_EQ(error, "");

    EXPECT_EQ(ChooseDeviceRate(8000, 48000, offering({44100, 48000, 96000}),
                               "device 3 \"USB Audio\"", error),
              0);
    EXPECT_EQ(error,
              "device 3 \"USB Audio\" cannot deliver 8000 frames per second; it offers 44100, "
              "48000 and 96000: give one with --rate");
    EXPECT_EQ(ChooseDeviceRate(96000, 48000, offering({48000}), "device 1 \"x\"", error), 0);
    EXPECT_EQ(error,
              "device 1 \"x\" cannot deliver 96000 frames per second; it offers 48000: give it "
              "with --rate");
    EXPECT_EQ(ChooseDeviceRate(0, 0, offering({}), "the default input", error), 0);
    EXPECT_EQ(error,
              "the default input cannot deliver any rate measured (8000, 11025, 16000, 22050, "
              "32000, 44100, 48000, 88200, 96000, 176400 or 192000)");
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
