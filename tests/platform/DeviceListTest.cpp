#include "DeviceList.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct Lists {
    DeviceList devices;
    DeviceLink link;
    std::set<PortKey> created;  // ports made since the last look

    bool look(const ListedPorts& now)
    {
        const bool changed =
            RefreshDeviceList(devices, now, [this](PortKey key) { return created.count(key) != 0; }, {&link});
        created.clear();
        return changed;
    }
    void openOn(size_t device)
    {
        link = DeviceLink{true, devices.names[device], device, true};
    }
};

TEST(DeviceList, GrowsMarksAbsentAndRelinksADeviceThatComesBack)
{
    Lists lists;
    EXPECT_TRUE(lists.look({{"Through:0", 1}, {"Keys:out", 2}}));
    lists.openOn(1);
    const int64_t expected = lists.devices.expect("Pads:out");  // saved, not here yet
    EXPECT_EQ(2, expected);
    EXPECT_FALSE(lists.look({{"Keys:out", 2}, {"Through:0", 1}}));  // another order is no change

    // Unplugged: listed still, absent, and the open port waits for it.
    EXPECT_TRUE(lists.look({{"Through:0", 1}}));
    EXPECT_FALSE(lists.devices.present(1));
    EXPECT_FALSE(LinkWaiting(lists.devices, lists.link));
    EXPECT_FALSE(lists.link.connected);

    // Plugged in again under another number, the saved one too: same places.
    EXPECT_TRUE(lists.look({{"Pads:out", 7}, {"Keys:out", 9}, {"Through:0", 1}, {"New:0", 8}}));
    EXPECT_EQ((std::vector<std::string>{"Through:0", "Keys:out", "Pads:out", "New:0"}), lists.devices.names);
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 1, 1}), lists.devices.arrivals);
    EXPECT_TRUE(LinkWaiting(lists.devices, lists.link));

    // Gone and back at the same number between two looks: it came again,
    // and its link went with it.
    lists.link.connected = true;
    lists.created.insert(9);
    EXPECT_TRUE(lists.look({{"Pads:out", 7}, {"Keys:out", 9}, {"Through:0", 1}, {"New:0", 8}}));
    EXPECT_EQ(3u, lists.devices.arrived(1));
    EXPECT_TRUE(LinkWaiting(lists.devices, lists.link));
}

TEST(DeviceList, KeepsTwoDevicesOfOneNameApartAndFollowsARename)
{
    Lists lists;
    lists.look({{"Keys:out", 3}, {"Keys:out", 4}});
    lists.openOn(1);
    // Each keeps its own port in whatever order they are listed; the first
    // to go leaves its place to the next of that name that comes.
    EXPECT_FALSE(lists.look({{"Keys:out", 4}, {"Keys:out", 3}}));
    EXPECT_TRUE(lists.look({{"Keys:out", 4}}));
    EXPECT_FALSE(lists.devices.present(0));
    EXPECT_FALSE(LinkWaiting(lists.devices, lists.link));
    lists.link.connected = true;
    EXPECT_TRUE(lists.look({{"Keys:out", 4}, {"Keys:out", 5}}));
    EXPECT_EQ((std::vector<PortKey>{5, 4}), lists.devices.keys);
    EXPECT_FALSE(LinkWaiting(lists.devices, lists.link));

    // The same port under a new name of the same client is a rename, and the
    // open port follows it; a port made anew there is another device.
    EXPECT_TRUE(lists.look({{"Keys:out", 5}, {"Keys:main", 4}}));
    EXPECT_EQ("Keys:main", lists.devices.name(1));
    EXPECT_EQ("Keys:main", lists.link.peer);
    lists.created.insert(5);
    EXPECT_TRUE(lists.look({{"Keys:other", 5}, {"Keys:main", 4}}));
    EXPECT_EQ((std::vector<std::string>{"Keys:out", "Keys:main", "Keys:other"}), lists.devices.names);
    EXPECT_FALSE(lists.devices.present(0));
}

}  // namespace
