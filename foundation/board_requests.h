#pragma once
// Request codes of the board's devices and the record each request carries.
//
// Every code is the board's literal hexadecimal value: the board encodes direction and
// size differently from this host, so never build one with _IO/_IOR/_IOW. Each request
// gets one packed struct for its record and a static_assert on the size the board
// expects, so a changed field shows at compile time rather than as a driver refusal.
// The board stand-in decodes requests with the same definitions.

#include <cstdint>

namespace Board {

// --- Board::kHal: the time-slot switch ------------------------------------------------
// Every word is unsigned 32-bit in the machine's own byte order. A port number names a
// switch port; an output is driven from an input port or by a constant byte.

// Feeds `output` from `input`.
inline constexpr unsigned long HAL_MUX_CONNECT = 0x80084D02;
struct [[gnu::packed]] MuxConnect {
  std::uint32_t output;
  std::uint32_t input;
};
static_assert(sizeof(MuxConnect) == 8);

// Stops driving `output`.
inline constexpr unsigned long HAL_MUX_DISABLE = 0x80044D03;
struct [[gnu::packed]] MuxDisable {
  std::uint32_t output;
};
static_assert(sizeof(MuxDisable) == 4);

// Drives `output` with the constant `byte` (0..255 in the low 8 bits).
inline constexpr unsigned long HAL_MUX_WRITE = 0xC0084D04;
struct [[gnu::packed]] MuxWrite {
  std::uint32_t output;
  std::uint32_t byte;
};
static_assert(sizeof(MuxWrite) == 8);

// Reads the byte seen on `port`: `byte` goes in as 0xFF and comes back as that byte.
inline constexpr unsigned long HAL_MUX_READ = 0xC0084D05;
struct [[gnu::packed]] MuxRead {
  std::uint32_t port;
  std::uint32_t byte;
};
static_assert(sizeof(MuxRead) == 8);

// --- Board::kDtmf: tone detectors, echo cancellers and tone generators -------------------
// One per timeslot; `ts` names it. Words in the machine's own byte order. The requests
// marked "by value" take the timeslot itself as the argument, not a record.

// Detector thresholds; silence comes before noise.
inline constexpr unsigned long DTMF_CONFIGURE_DETECTOR = 0x40144202;
struct [[gnu::packed]] DtmfDetector {
  std::uint32_t ts;
  std::uint32_t twist;
  std::uint32_t ratio;
  std::uint32_t silence;
  std::uint32_t noise;
};
static_assert(sizeof(DtmfDetector) == 20);

// Detector on; its events carry `id`.
inline constexpr unsigned long DTMF_ENABLE_DETECTOR = 0x40084203;
struct [[gnu::packed]] DtmfEnable {
  std::uint32_t ts;
  std::uint32_t id;
};
static_assert(sizeof(DtmfEnable) == 8);

inline constexpr unsigned long DTMF_DISABLE_DETECTOR = 0x40044204;  // by value

// The generator: all zero is off; 1000/1000 Hz at amplitude 0 is silence.
inline constexpr unsigned long DTMF_DIAL = 0x400c4205;
struct [[gnu::packed]] DtmfTone {
  std::uint32_t ts;
  std::uint16_t freq1;
  std::uint16_t freq2;
  std::uint16_t amp1;
  std::uint16_t amp2;
};
static_assert(sizeof(DtmfTone) == 12);

inline constexpr unsigned long CHANNEL_LMS_ON = 0x40044206;          // by value
inline constexpr unsigned long CHANNEL_LMS_OFF = 0x40044207;         // by value
inline constexpr unsigned long DTMF_REJECTION_ENABLE = 0x40044209;   // by value
inline constexpr unsigned long DTMF_REJECTION_DISABLE = 0x4004420a;  // by value
inline constexpr unsigned long IVA_DETECTOR_ENABLE = 0x4004420b;     // by value
inline constexpr unsigned long IVA_DETECTOR_DISABLE = 0x4004420c;    // by value

inline constexpr unsigned long IVA_CONFIGURE_DETECTOR = 0x4008420d;
struct [[gnu::packed]] IvaDetector {
  std::uint32_t ts;
  std::int32_t det_lvl_dB;
};
static_assert(sizeof(IvaDetector) == 8);

// Four selective-calling signs, then two bytes that stay zero.
inline constexpr unsigned long SELCAL_DIAL = 0x400c420e;
struct [[gnu::packed]] SelcalDial {
  std::uint32_t ts;
  std::uint16_t amp;
  char signs[4];
  std::uint8_t reserved[2];
};
static_assert(sizeof(SelcalDial) == 12);

// What a read of the device returns: one detected tone.
struct [[gnu::packed]] DtmfEvent {
  std::uint32_t code;
  std::uint32_t ts;
  std::uint32_t timestamp;
  std::uint32_t id;  // the detector's, from DTMF_ENABLE_DETECTOR
};
static_assert(sizeof(DtmfEvent) == 16);

// --- Board::kDsp: voice processing per timeslot ------------------------------------------

// One function's settings: `kind` says which, `params` holds them (the rest stays zero).
inline constexpr unsigned long DSPROC_CONFIGURE = 0x40146401;
inline constexpr std::uint32_t kDsprocVad = 1;
inline constexpr std::uint32_t kDsprocSd = 2;
inline constexpr std::uint32_t kDsprocDelays = 32;
inline constexpr std::uint32_t kDsprocRxGain = 64;
inline constexpr std::uint32_t kDsprocToneFilter = 256;
struct [[gnu::packed]] DsprocVadV2 {
  std::uint16_t voice_ms;
  std::uint16_t silence_ms;
  std::uint8_t energy_dB;
};
struct [[gnu::packed]] DsprocDelays {
  std::uint32_t rx;
  std::uint32_t tx;
};
struct [[gnu::packed]] DsprocToneFilter {
  std::uint16_t freq;
  std::uint8_t enable;
  std::uint8_t reserved;
  std::uint16_t duration_ms;
  std::uint8_t level_dB;
};
struct [[gnu::packed]] DsprocConfigure {
  std::uint32_t ts;
  std::uint32_t kind;
  // The widest member first: {} clears all twelve bytes.
  union [[gnu::packed]] Params {
    std::uint32_t words[3];  // VAD of a driver before version 2
    DsprocVadV2 vad_v2;
    DsprocDelays delays;
    std::uint8_t rx_gain_dB;
    DsprocToneFilter tone_filter;
  } params;
};
static_assert(sizeof(DsprocConfigure) == 20);

// Functions on (ENABLE, events then carry `id`) or off (DISABLE, `id` 0), by mask.
inline constexpr unsigned long DSPROC_ENABLE = 0x400c6402;
inline constexpr unsigned long DSPROC_DISABLE = 0x400c6403;
inline constexpr std::uint32_t kDsprocMaskVad = 1;
inline constexpr std::uint32_t kDsprocMaskSd = 2;
inline constexpr std::uint32_t kDsprocMaskMute1 = 4;
inline constexpr std::uint32_t kDsprocMaskMute2 = 8;
inline constexpr std::uint32_t kDsprocMaskBss = 16;
inline constexpr std::uint32_t kDsprocMaskNg = 128;
inline constexpr std::uint32_t kDsprocMaskTones = 256;
struct [[gnu::packed]] DsprocFunctions {
  std::uint32_t ts;
  std::uint32_t id;
  std::uint32_t mask;
};
static_assert(sizeof(DsprocFunctions) == 12);

// By value 0; the request returns the driver's VAD version.
inline constexpr unsigned long VAD_VERSION = 0x40046404;

// What a read of the device returns: one event of a function, its payload by type.
inline constexpr std::uint32_t kDsprocEventVad = 1;
inline constexpr std::uint32_t kDsprocEventSd = 2;
inline constexpr std::uint32_t kDsprocEventBss = 0x10;
inline constexpr std::uint32_t kDsprocEventTone = 0x100;
inline constexpr std::uint32_t kDsprocEventFlags = 0x200;
struct [[gnu::packed]] DsprocEvent {
  std::uint32_t ts;
  std::uint32_t id;  // the function's, from DSPROC_ENABLE
  std::uint32_t type;
  unsigned char payload[12];
};
static_assert(sizeof(DsprocEvent) == 24);
struct [[gnu::packed]] dsproc_vad_event {
  std::uint32_t dir_mask;  // bit 0: vad_rx reported, bit 1: vad_tx
  std::int32_t vad_rx;
  std::int32_t vad_tx;
};
static_assert(sizeof(dsproc_vad_event) == 12);
struct [[gnu::packed]] dsproc_sd_event {
  std::int32_t sd_rx;
};
static_assert(sizeof(dsproc_sd_event) == 4);
struct [[gnu::packed]] dsproc_bss_event {
  float score;
};
static_assert(sizeof(dsproc_bss_event) == 4);
struct [[gnu::packed]] dsproc_tone_event {
  std::int32_t freq;
  std::uint8_t presence;  // non-zero: the tone is there
  std::uint8_t reserved[3];
};
static_assert(sizeof(dsproc_tone_event) == 8);
struct [[gnu::packed]] dsproc_flags_event {
  std::uint32_t flags;
  std::uint32_t mask;
};
static_assert(sizeof(dsproc_flags_event) == 8);

// --- Board::kRtp: the RTP sessions' records ----------------------------------------------

struct [[gnu::packed]] rtp_connection_params {
  std::uint32_t dst_addr;
  std::uint16_t dst_port;
  std::uint8_t reserved0[2];
  std::uint32_t src_addr;
  std::uint16_t src_port;
  std::uint16_t rx_pt;
  std::uint16_t tx_pt;
  std::uint16_t packet_factor;
  std::uint8_t vad;
  std::uint8_t crate;
  std::uint8_t reserved1[2];
  std::uint32_t ssrc;
  std::uint8_t reserved2[8];
  std::uint32_t ttl;
  std::int32_t tos;
};
static_assert(sizeof(rtp_connection_params) == 44);

struct [[gnu::packed]] rtp_attach_session_params {
  std::int32_t fd_rtp;
  std::int32_t pid_rtp;
};
static_assert(sizeof(rtp_attach_session_params) == 8);

struct [[gnu::packed]] rtp_channel_info {
  std::int32_t tdm;
  std::int32_t dev_no;
  std::int32_t chn;
  std::uint32_t reserved;
};
static_assert(sizeof(rtp_channel_info) == 16);

// What a read of a session returns; type 1 is a packet detection.
struct [[gnu::packed]] rtp_event {
  std::uint32_t type;
  std::uint32_t value;
  std::uint32_t timeout;
  std::uint32_t reserved[6];
};
static_assert(sizeof(rtp_event) == 36);

}  // namespace Board

namespace Board {

// --- Board::kVoice: the voice driver ----------------------------------------------------

// Pointer to a codec mask (u32: 1 g711, 2 g723, 4 g729, 8 g711mcc, 65 universal); the
// request returns the channels available for it.
inline constexpr unsigned long VOICE_CODEC_CAPACITY = 0x40045602;
struct [[gnu::packed]] VoiceCodecMask {
  std::uint32_t mask;
};
static_assert(sizeof(VoiceCodecMask) == 4);

// Fills the driver's version record, five words the server keeps uninterpreted.
inline constexpr unsigned long VOICE_VERSION = 0x4014560a;
struct [[gnu::packed]] VoiceVersion {
  std::uint32_t words[5];
};
static_assert(sizeof(VoiceVersion) == 20);

}  // namespace Board

namespace Board {

// --- Board::kMixer: the conference mixer units ------------------------------------------
// Signed 32-bit words in the machine's own byte order. Every channel of a unit has a sum:
// the channels (each at a gain) whose input is added up and sent out on its output.

// One channel of one unit; `type` 0 is a TDM channel, the only kind the server names.
struct [[gnu::packed]] mix_slot {
  std::int32_t dev_no;
  std::int32_t type;
  std::int32_t number;
};
static_assert(sizeof(mix_slot) == 12);

// One link of the sum of `rx`: `tx` added at `gain`.
struct [[gnu::packed]] mix_rx_param {
  mix_slot rx;
  mix_slot tx;
  std::int32_t gain;
};
static_assert(sizeof(mix_rx_param) == 28);

// In: the unit the previous request returned, -1 for the first; out: the next unit.
struct [[gnu::packed]] mix_unit_info {
  std::int32_t dev_no;
  std::int32_t tdm_channels;
  std::int32_t reserved;  // not read
  std::int32_t mixer_inputs;
};
static_assert(sizeof(mix_unit_info) == 16);

inline constexpr unsigned long MIX_RX_CLEAR = 0x800c4d02;   // mix_slot: empties its sum
inline constexpr unsigned long MIX_RX_ADD = 0x801c4d03;     // mix_rx_param
inline constexpr unsigned long MIX_RX_REMOVE = 0x801c4d04;  // mix_rx_param, gain not read
inline constexpr unsigned long MIX_TDM = 0x800c4d06;        // mix_slot: returns its timeslot
inline constexpr unsigned long MIX_UNIT_INFO = 0x80104d07;  // mix_unit_info; negative after the last

}  // namespace Board
