#pragma once
// One request on the mixer driver: the device is opened for it and closed again, so no
// descriptor of it stays with the daemon.

namespace Mixer {

// The request's result, or -1 when the device does not open (errno is then the open's).
// errno after a failed request is the request's, whatever the close did.
int mixer_ctl(unsigned long request, void* record);

}  // namespace Mixer
