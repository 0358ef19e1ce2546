#pragma once
// The rule that links one slot's output to another's input: streams are opened as a new
// link needs them, the slot with the higher connection priority performs the hardware
// step (the receiver on a tie when connecting, the transmitter when disconnecting), and
// the families hear through their release operations when a stream is no longer used.

class Slot;

bool Connect(Slot& src, Slot& dst);
bool Disconnect(Slot& dst);
bool llConnect(Slot& src, Slot& dst);
bool llDisconnect(Slot& dst);
// The default hardware step: a connection in the time-slot switch.
bool MuxConnect(Slot& src, Slot& dst);
bool MuxDisconnect(Slot& dst);
