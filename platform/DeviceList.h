#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The device lists of a service whose devices come and go (JACK, the ALSA
// sequencer): devices keep their number for the run, one that goes stays
// listed as absent, one that comes is added at the end, and our ports
// opened on a device follow it by name.

// What tells one port of another client from the others while it lives: a
// handle or an address, never 0.
using PortKey = uintptr_t;

struct ListedPort {
    std::string name;
    PortKey key;
};
// The ports as the server lists them now, in its order.
using ListedPorts = std::vector<ListedPort>;

struct DeviceList {
    std::vector<std::string> names;
    // The port behind each device as the service saw it last, 0 while it is
    // absent; also tells a renamed port, whose new name may be read before
    // the rename is heard of.
    std::vector<PortKey> keys;
    // How many times each device came, or came back, this run.
    std::vector<uint32_t> arrivals;

    bool present(size_t device) const { return device < keys.size() && keys[device] != 0; }
    int64_t find(const std::string& name) const;
    // An absent device wanted by name: its number, listed at the end if new.
    int64_t expect(const std::string& name);
    std::string name(size_t device) const { return device < names.size() ? names[device] : std::string(); }
    uint32_t arrived(size_t device) const { return device < arrivals.size() ? arrivals[device] : 0; }
    void markAllAbsent();
};

// One of our ports as far as the lists are concerned: the device it serves
// and whether it is linked to that device as it is now.
struct DeviceLink {
    bool inUse = false;
    std::string peer;  // the device's full name
    size_t device = 0;  // its number in the list
    bool connected = false;
};

// Brings the list up to date with the ports listed now. `anew` says whether
// a port was created since the last look (a key seen before may be a new
// port's). Where two devices share a name, each keeps the port it had and
// a new one takes the first free place of that name. A device that comes
// or comes back counts an arrival and unlinks what is open on it (its links
// went with it, and a keyboard's note-offs from before will never come); a
// renamed one keeps its place and what is open on it follows. Returns
// whether a device came, went, came back or was renamed.
bool RefreshDeviceList(DeviceList& devices, const ListedPorts& now, const std::function<bool(PortKey)>& anew,
                       const std::vector<DeviceLink*>& links);

// Whether an open link must be (re)made now: its device is here and it is
// not linked. One whose device is absent is marked unlinked.
bool LinkWaiting(const DeviceList& devices, DeviceLink& link);

template <typename Records>
std::vector<DeviceLink*> LinksOf(Records& records)
{
    std::vector<DeviceLink*> links;
    for (auto& record : records)
        links.push_back(&record);
    return links;
}
