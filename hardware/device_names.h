#pragma once
// Where the board's media drivers live: every such device is opened by a path from one
// of these getters, so the paths stay in one place. Each returns the same fixed text on
// every call.

char const* GetVoiceDevName();
char const* GetMixerDevName();
char const* GetDTMFDevName();
char const* GetDSPDevName();
char const* GetRtpDevName();
char const* GetRtpExtDevName();
char const* GetModemDevName();
char const* GetMaintenance();
char const* GetSpiTdmDevName();
