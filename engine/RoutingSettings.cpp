#include "RoutingSettings.h"

TRoutingOptions RoutingOptions{};
int32_t OpenSelection[PortCount]{};
MidiHandle DeviceHandles[PortCount]{};
