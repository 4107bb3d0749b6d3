// Device discovery: the separate program that lets the user find a device
// and leaves it (and the table of known devices) in the registry.
#pragma once

namespace vtutil {

// Runs the discovery program and waits until it ends, keeping the caller's
// windows painted meanwhile. False when the program cannot be started.
bool RunDiscovery();

}  // namespace vtutil
