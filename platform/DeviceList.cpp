#include "DeviceList.h"

#include <algorithm>

namespace {

std::string ClientOf(const std::string& portName)
{
    return portName.substr(0, portName.find(':'));
}

// The device whose port this is, under a name not seen before: a rename
// keeps the port and its client, and the old name is gone (but for ports of
// that name already placed on other devices). The new name may be read
// before the rename is heard of, so the port decides; the caller has made
// sure it was not created anew in the meantime.
int64_t RenamedDevice(const DeviceList& devices, const std::vector<bool>& taken, const ListedPorts& now,
                      const std::vector<int64_t>& placed, const ListedPort& port)
{
    const auto listedElsewhere = [&](const std::string& name) {
        for (size_t p = 0; p < now.size(); ++p) {
            if (placed[p] < 0 && now[p].name == name)
                return true;
        }
        return false;
    };
    for (size_t i = 0; i < devices.keys.size(); ++i) {
        if (!taken[i] && devices.keys[i] == port.key && ClientOf(devices.names[i]) == ClientOf(port.name) &&
            !listedElsewhere(devices.names[i]))
            return static_cast<int64_t>(i);
    }
    return -1;
}

int64_t FreeDeviceNamed(const DeviceList& devices, const std::vector<bool>& taken, const std::string& name)
{
    for (size_t i = 0; i < devices.names.size(); ++i) {
        if (!taken[i] && devices.names[i] == name)
            return static_cast<int64_t>(i);
    }
    return -1;
}

void Arrive(DeviceList& devices, size_t device, const std::vector<DeviceLink*>& links)
{
    ++devices.arrivals[device];
    for (DeviceLink* link : links) {
        if (link->inUse && link->device == device)
            link->connected = false;
    }
}

void Rename(DeviceList& devices, size_t device, const std::string& name, const std::vector<DeviceLink*>& links)
{
    for (DeviceLink* link : links) {
        if (link->inUse && link->device == device)
            link->peer = name;
    }
    devices.names[device] = name;
}

}  // namespace

int64_t DeviceList::find(const std::string& name) const
{
    const auto at = std::find(names.begin(), names.end(), name);
    return at == names.end() ? -1 : at - names.begin();
}

int64_t DeviceList::expect(const std::string& name)
{
    if (const int64_t at = find(name); at >= 0)
        return at;
    names.push_back(name);
    keys.push_back(0);
    arrivals.push_back(0);
    return static_cast<int64_t>(names.size()) - 1;
}

void DeviceList::markAllAbsent()
{
    std::fill(keys.begin(), keys.end(), 0);
}

bool RefreshDeviceList(DeviceList& devices, const ListedPorts& now, const std::function<bool(PortKey)>& anew,
                       const std::vector<DeviceLink*>& links)
{
    bool changed = false;
    std::vector<PortKey> keys(devices.names.size(), 0);
    std::vector<bool> taken(devices.names.size(), false);
    std::vector<int64_t> placed(now.size(), -1);
    std::vector<bool> fresh(now.size());
    // First every port that is still the one a device had, so that of two
    // devices with one name each keeps its own.
    for (size_t p = 0; p < now.size(); ++p) {
        fresh[p] = anew(now[p].key);
        for (size_t i = 0; i < devices.keys.size() && !fresh[p]; ++i) {
            if (!taken[i] && devices.keys[i] == now[p].key && devices.names[i] == now[p].name) {
                taken[i] = true;
                placed[p] = static_cast<int64_t>(i);
                keys[i] = now[p].key;
                break;
            }
        }
    }
    for (size_t p = 0; p < now.size(); ++p) {
        if (placed[p] >= 0)
            continue;
        const ListedPort& port = now[p];
        int64_t at = FreeDeviceNamed(devices, taken, port.name);
        if (at < 0 && !fresh[p])
            at = RenamedDevice(devices, taken, now, placed, port);
        if (at >= 0 && devices.names[static_cast<size_t>(at)] != port.name) {
            Rename(devices, static_cast<size_t>(at), port.name, links);
        } else if (at < 0) {
            at = static_cast<int64_t>(devices.names.size());
            devices.names.push_back(port.name);
            devices.keys.push_back(0);
            devices.arrivals.push_back(0);
            keys.push_back(0);
            taken.push_back(false);
            Arrive(devices, static_cast<size_t>(at), links);
        } else {
            // Back, or gone and back between two looks: as good as new.
            Arrive(devices, static_cast<size_t>(at), links);
        }
        changed = true;
        placed[p] = at;
        taken[static_cast<size_t>(at)] = true;
        keys[static_cast<size_t>(at)] = port.key;
    }
    for (size_t i = 0; i < keys.size() && !changed; ++i)
        changed = devices.present(i) != (keys[i] != 0);
    devices.keys = std::move(keys);
    return changed;
}

bool LinkWaiting(const DeviceList& devices, DeviceLink& link)
{
    if (!devices.present(link.device) || devices.names[link.device] != link.peer) {
        link.connected = false;  // its links went with it
        return false;
    }
    return !link.connected;
}
