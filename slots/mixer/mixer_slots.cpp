#include "slots/mixer/mixer_slots.h"

#include "hardware/hw_mux.h"
#include "slots/mixer/mixer.h"

namespace Mixer {

namespace {

// The low 16 bits, as the tone generator takes them.
std::uint16_t low16(ASN1::INTEGER const& value) { return static_cast<std::uint16_t>(value.getValue()); }

}  // namespace

TdmSlot::~TdmSlot() {
  if (m_passed_on) return;
  Hardware::TonecReceiver::CleanBeforeDestroy();
  Hardware::DSProcReceiver::CleanBeforeDestroy();
}

void TdmSlot::StopDigits() {
  if (!is_inDTMFTransmit()) return;
  enableSilence();
  disableToneGenerator(true);
}

std::optional<bool> TdmSlot::CommonIoctl(LGCP::IoctlParams const& params) {
  if (params.translateDTMF_isSelected()) {
    translateDTMF(params.get_translateDTMF());
    return true;
  }
  if (params.dtmf_params_isSelected()) return configureDTMF(params.get_dtmf_params());
  if (params.vad_enable_isSelected()) return enableVAD(params.get_vad_enable());
  if (params.vad_disable_isSelected()) return disableVAD();
  if (params.vad_params_isSelected()) return configureVAD(params.get_vad_params());
  if (params.sd_enable_isSelected()) return enableSD(params.get_sd_enable());
  if (params.sd_disable_isSelected()) return disableSD();
  if (params.sd_params_isSelected()) return configureSD();
  if (params.iva_enable_isSelected()) return enableIVA(params.get_iva_enable());
  if (params.tone_filter_isSelected()) {
    configureToneFilter(params.get_tone_filter());
    return true;
  }
  if (params.delays_isSelected()) {
    LGCP::Delays const& delays = params.get_delays();
    configureDelays(delays.rx_isPresent() ? static_cast<unsigned>(delays.get_rx().getValue()) : 0u,
                    delays.tx_isPresent() ? static_cast<unsigned>(delays.get_tx().getValue()) : 0u);
    return true;
  }
  return std::nullopt;
}

bool TdmInput::IBeforeDestroy() {
  m_passed_on = m_mixer.SuccessorHolds(timeslot());
  if (!m_passed_on) HwMux::instance().Disable(timeslot());
  m_mixer.Release(*this);
  return true;
}

bool TdmInput::Ioctl(LGCP::IoctlParams const& params) {
  if (params.echoSuppressor_isSelected()) return echoCancel(params.get_echoSuppressor());
  if (params.dtmf_enable_isSelected()) return enableDTMF(params.get_dtmf_enable());
  if (params.dtmf_reject_enable_isSelected()) return enableDTMFReject(params.get_dtmf_reject_enable());
  if (params.iva_params_isSelected()) return configureIVA(params.get_iva_params());
  if (params.rx_gain_isSelected()) {
    configureRxGain(params.get_rx_gain());
    return true;
  }
  return CommonIoctl(params).value_or(false);
}

bool TdmOutput::IBeforeDestroy() {
  m_passed_on = m_mixer.SuccessorHolds(timeslot());
  // Its timeslot is also the switch output that feeds an input on the same channel.
  if (!m_mixer.HasInputOn(channel())) HwMux::instance().Disable(timeslot());
  m_mixer.Release(*this);
  return true;
}

void TdmOutput::StopTone() {
  disableToneGenerator(true);
  m_tone_on = false;
}

bool TdmOutput::Ioctl(LGCP::IoctlParams const& params) {
  if (params.translateDTMF_isSelected()) m_tone_on = false;  // the string's end switches the generator off
  if (params.dtmf_disable_isSelected()) return disableToneGenerator(false);
  if (params.dtmf_reject_disable_isSelected()) return enableDTMFReject(false);
  if (params.tone_gen_enable_isSelected()) {
    LGCP::ToneGenerator const& tone = params.get_tone_gen_enable();
    disableToneGenerator(false);
    if (enableToneGenerator(low16(tone.get_freq()), 0, low16(tone.get_amp()), 0)) m_tone_on = true;
    return true;
  }
  if (params.tone_gen_disable_isSelected()) {
    StopTone();
    return true;
  }
  return CommonIoctl(params).value_or(false);
}

}  // namespace Mixer
