#include "hardware/device_names.h"

#include "foundation/board_io.h"

char const* GetVoiceDevName() { return Board::kVoice; }
char const* GetMixerDevName() { return Board::kMixer; }
char const* GetDTMFDevName() { return Board::kDtmf; }
char const* GetDSPDevName() { return Board::kDsp; }
char const* GetRtpDevName() { return Board::kRtp; }
char const* GetRtpExtDevName() { return Board::kRtpExt; }
char const* GetModemDevName() { return Board::kModemControl; }
char const* GetMaintenance() { return Board::kMaintenance; }
char const* GetSpiTdmDevName() { return Board::kSpiTdm; }
