#pragma once
// Request codes of the board's devices and the record each request carries.
//
// Every code is the board's literal hexadecimal value: the board encodes direction and
// size differently from this host, so never build one with _IO/_IOR/_IOW. Each request
// gets one packed struct for its record and static_asserts on its size and on each
// field's byte offset as the board expects them. The board stand-in decodes requests
// with the same definitions, so no test would see a field of the wrong width or order:
// these asserts do, at compile time.

#include <cstddef>
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
static_assert(offsetof(MuxConnect, output) == 0);
static_assert(offsetof(MuxConnect, input) == 4);

// Stops driving `output`.
inline constexpr unsigned long HAL_MUX_DISABLE = 0x80044D03;
struct [[gnu::packed]] MuxDisable {
  std::uint32_t output;
};
static_assert(sizeof(MuxDisable) == 4);
static_assert(offsetof(MuxDisable, output) == 0);

// Drives `output` with the constant `byte` (0..255 in the low 8 bits).
inline constexpr unsigned long HAL_MUX_WRITE = 0xC0084D04;
struct [[gnu::packed]] MuxWrite {
  std::uint32_t output;
  std::uint32_t byte;
};
static_assert(sizeof(MuxWrite) == 8);
static_assert(offsetof(MuxWrite, output) == 0);
static_assert(offsetof(MuxWrite, byte) == 4);

// Reads the byte seen on `port`: `byte` goes in as 0xFF and comes back as that byte.
inline constexpr unsigned long HAL_MUX_READ = 0xC0084D05;
struct [[gnu::packed]] MuxRead {
  std::uint32_t port;
  std::uint32_t byte;
};
static_assert(sizeof(MuxRead) == 8);
static_assert(offsetof(MuxRead, port) == 0);
static_assert(offsetof(MuxRead, byte) == 4);

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
static_assert(offsetof(DtmfDetector, ts) == 0);
static_assert(offsetof(DtmfDetector, twist) == 4);
static_assert(offsetof(DtmfDetector, ratio) == 8);
static_assert(offsetof(DtmfDetector, silence) == 12);
static_assert(offsetof(DtmfDetector, noise) == 16);

// Detector on; its events carry `id`.
inline constexpr unsigned long DTMF_ENABLE_DETECTOR = 0x40084203;
struct [[gnu::packed]] DtmfEnable {
  std::uint32_t ts;
  std::uint32_t id;
};
static_assert(sizeof(DtmfEnable) == 8);
static_assert(offsetof(DtmfEnable, ts) == 0);
static_assert(offsetof(DtmfEnable, id) == 4);

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
static_assert(offsetof(DtmfTone, ts) == 0);
static_assert(offsetof(DtmfTone, freq1) == 4);
static_assert(offsetof(DtmfTone, freq2) == 6);
static_assert(offsetof(DtmfTone, amp1) == 8);
static_assert(offsetof(DtmfTone, amp2) == 10);

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
static_assert(offsetof(IvaDetector, ts) == 0);
static_assert(offsetof(IvaDetector, det_lvl_dB) == 4);

// Four selective-calling signs, then two bytes that stay zero.
inline constexpr unsigned long SELCAL_DIAL = 0x400c420e;
struct [[gnu::packed]] SelcalDial {
  std::uint32_t ts;
  std::uint16_t amp;
  char signs[4];
  std::uint8_t reserved[2];
};
static_assert(sizeof(SelcalDial) == 12);
static_assert(offsetof(SelcalDial, ts) == 0);
static_assert(offsetof(SelcalDial, amp) == 4);
static_assert(offsetof(SelcalDial, signs) == 6);
static_assert(offsetof(SelcalDial, reserved) == 10);

// What a read of the device returns: one detected tone.
struct [[gnu::packed]] DtmfEvent {
  std::uint32_t code;
  std::uint32_t ts;
  std::uint32_t timestamp;
  std::uint32_t id;  // the detector's, from DTMF_ENABLE_DETECTOR
};
static_assert(sizeof(DtmfEvent) == 16);
static_assert(offsetof(DtmfEvent, code) == 0);
static_assert(offsetof(DtmfEvent, ts) == 4);
static_assert(offsetof(DtmfEvent, timestamp) == 8);
static_assert(offsetof(DtmfEvent, id) == 12);

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
static_assert(offsetof(DsprocConfigure, ts) == 0);
static_assert(offsetof(DsprocConfigure, kind) == 4);
static_assert(offsetof(DsprocConfigure, params) == 8);
static_assert(offsetof(DsprocConfigure, params.words) == 8);
static_assert(offsetof(DsprocConfigure, params.vad_v2.voice_ms) == 8);
static_assert(offsetof(DsprocConfigure, params.vad_v2.silence_ms) == 10);
static_assert(offsetof(DsprocConfigure, params.vad_v2.energy_dB) == 12);
static_assert(offsetof(DsprocConfigure, params.delays.rx) == 8);
static_assert(offsetof(DsprocConfigure, params.delays.tx) == 12);
static_assert(offsetof(DsprocConfigure, params.rx_gain_dB) == 8);
static_assert(offsetof(DsprocConfigure, params.tone_filter.freq) == 8);
static_assert(offsetof(DsprocConfigure, params.tone_filter.enable) == 10);
static_assert(offsetof(DsprocConfigure, params.tone_filter.reserved) == 11);
static_assert(offsetof(DsprocConfigure, params.tone_filter.duration_ms) == 12);
static_assert(offsetof(DsprocConfigure, params.tone_filter.level_dB) == 14);

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
static_assert(offsetof(DsprocFunctions, ts) == 0);
static_assert(offsetof(DsprocFunctions, id) == 4);
static_assert(offsetof(DsprocFunctions, mask) == 8);

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
static_assert(offsetof(DsprocEvent, ts) == 0);
static_assert(offsetof(DsprocEvent, id) == 4);
static_assert(offsetof(DsprocEvent, type) == 8);
static_assert(offsetof(DsprocEvent, payload) == 12);
struct [[gnu::packed]] dsproc_vad_event {
  std::uint32_t dir_mask;  // bit 0: vad_rx reported, bit 1: vad_tx
  std::int32_t vad_rx;
  std::int32_t vad_tx;
};
static_assert(sizeof(dsproc_vad_event) == 12);
static_assert(offsetof(dsproc_vad_event, dir_mask) == 0);
static_assert(offsetof(dsproc_vad_event, vad_rx) == 4);
static_assert(offsetof(dsproc_vad_event, vad_tx) == 8);
struct [[gnu::packed]] dsproc_sd_event {
  std::int32_t sd_rx;
};
static_assert(sizeof(dsproc_sd_event) == 4);
static_assert(offsetof(dsproc_sd_event, sd_rx) == 0);
struct [[gnu::packed]] dsproc_bss_event {
  float score;
};
static_assert(sizeof(dsproc_bss_event) == 4);
static_assert(offsetof(dsproc_bss_event, score) == 0);
struct [[gnu::packed]] dsproc_tone_event {
  std::int32_t freq;
  std::uint8_t presence;  // non-zero: the tone is there
  std::uint8_t reserved[3];
};
static_assert(sizeof(dsproc_tone_event) == 8);
static_assert(offsetof(dsproc_tone_event, freq) == 0);
static_assert(offsetof(dsproc_tone_event, presence) == 4);
static_assert(offsetof(dsproc_tone_event, reserved) == 5);
struct [[gnu::packed]] dsproc_flags_event {
  std::uint32_t flags;
  std::uint32_t mask;
};
static_assert(sizeof(dsproc_flags_event) == 8);
static_assert(offsetof(dsproc_flags_event, flags) == 0);
static_assert(offsetof(dsproc_flags_event, mask) == 4);

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
static_assert(offsetof(rtp_connection_params, dst_addr) == 0);
static_assert(offsetof(rtp_connection_params, dst_port) == 4);
static_assert(offsetof(rtp_connection_params, reserved0) == 6);
static_assert(offsetof(rtp_connection_params, src_addr) == 8);
static_assert(offsetof(rtp_connection_params, src_port) == 12);
static_assert(offsetof(rtp_connection_params, rx_pt) == 14);
static_assert(offsetof(rtp_connection_params, tx_pt) == 16);
static_assert(offsetof(rtp_connection_params, packet_factor) == 18);
static_assert(offsetof(rtp_connection_params, vad) == 20);
static_assert(offsetof(rtp_connection_params, crate) == 21);
static_assert(offsetof(rtp_connection_params, reserved1) == 22);
static_assert(offsetof(rtp_connection_params, ssrc) == 24);
static_assert(offsetof(rtp_connection_params, reserved2) == 28);
static_assert(offsetof(rtp_connection_params, ttl) == 36);
static_assert(offsetof(rtp_connection_params, tos) == 40);

struct [[gnu::packed]] rtp_attach_session_params {
  std::int32_t fd_rtp;
  std::int32_t pid_rtp;
};
static_assert(sizeof(rtp_attach_session_params) == 8);
static_assert(offsetof(rtp_attach_session_params, fd_rtp) == 0);
static_assert(offsetof(rtp_attach_session_params, pid_rtp) == 4);

struct [[gnu::packed]] rtp_channel_info {
  std::int32_t tdm;
  std::int32_t dev_no;
  std::int32_t chn;
  std::uint32_t reserved;
};
static_assert(sizeof(rtp_channel_info) == 16);
static_assert(offsetof(rtp_channel_info, tdm) == 0);
static_assert(offsetof(rtp_channel_info, dev_no) == 4);
static_assert(offsetof(rtp_channel_info, chn) == 8);
static_assert(offsetof(rtp_channel_info, reserved) == 12);

// What a read of a session returns; type 1 is a packet detection.
struct [[gnu::packed]] rtp_event {
  std::uint32_t type;
  std::uint32_t value;
  std::uint32_t timeout;
  std::uint32_t reserved[6];
};
static_assert(sizeof(rtp_event) == 36);
static_assert(offsetof(rtp_event, type) == 0);
static_assert(offsetof(rtp_event, value) == 4);
static_assert(offsetof(rtp_event, timeout) == 8);
static_assert(offsetof(rtp_event, reserved) == 12);

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
static_assert(offsetof(VoiceCodecMask, mask) == 0);

// Fills the driver's version record, five words the server keeps uninterpreted.
inline constexpr unsigned long VOICE_VERSION = 0x4014560a;
struct [[gnu::packed]] VoiceVersion {
  std::uint32_t words[5];
};
static_assert(sizeof(VoiceVersion) == 20);
static_assert(offsetof(VoiceVersion, words) == 0);

}  // namespace Board

namespace Board {

// --- Board::kMccControl: the multichannel HDLC controller ----------------------------
// Each open becomes one controller channel once allocated; `write` then sends one frame
// and `read` returns one. Words are unsigned 32-bit in the machine's own byte order.
// The direction bits of these codes are the board's own, not what the records do.

// Turns the open into a channel. `mode`: 0 data, 1 BRI, 2 transparent, 3 SS7
// signalling units; `packet_size`: the largest frame in bytes; `reserved` always 0.
inline constexpr unsigned long MCC_ALLOCATE = 0x40144D00;
struct [[gnu::packed]] MccAllocate {
  std::uint32_t mode;
  std::uint32_t packet_size;
  std::uint32_t reserved;
  std::uint32_t rx_threshold;
  std::uint32_t tx_threshold;
};
static_assert(sizeof(MccAllocate) == 20);
static_assert(offsetof(MccAllocate, mode) == 0);
static_assert(offsetof(MccAllocate, packet_size) == 4);
static_assert(offsetof(MccAllocate, reserved) == 8);
static_assert(offsetof(MccAllocate, rx_threshold) == 12);
static_assert(offsetof(MccAllocate, tx_threshold) == 16);

// The channel's switch port, as the request's result. No record: by value, 0.
inline constexpr unsigned long MCC_TIMESLOT = 0x20004D02;

// Free channels by kind, filled by the driver on any open; the fourth word is unused.
inline constexpr unsigned long MCC_CAPACITY = 0x80104D03;
struct [[gnu::packed]] MccCapacity {
  std::uint32_t data;
  std::uint32_t bri;
  std::uint32_t transparent;
  std::uint32_t reserved;
};
static_assert(sizeof(MccCapacity) == 16);
static_assert(offsetof(MccCapacity, data) == 0);
static_assert(offsetof(MccCapacity, bri) == 4);
static_assert(offsetof(MccCapacity, transparent) == 8);
static_assert(offsetof(MccCapacity, reserved) == 12);

// --- Board::kHal: clock source and the SPI bus of the BRI line interfaces -------------

// Selects the board's clock source; the record is the source number.
inline constexpr unsigned long HAL_CLOCK_SELECT = 0x80044301;
struct [[gnu::packed]] ClockSelect {
  std::uint32_t source;
};
static_assert(sizeof(ClockSelect) == 4);
static_assert(offsetof(ClockSelect, source) == 0);

// One register of a line-interface chip (`channel` 0..7). A read goes in with `data`
// 0xFF and returns the register's value as the request's result; a write stores `data`.
inline constexpr unsigned long HAL_SPI_READ = 0xC0034203;
inline constexpr unsigned long HAL_SPI_WRITE = 0xC0034204;
struct [[gnu::packed]] SpiAccess {
  std::uint8_t channel;
  std::uint8_t reg;
  std::uint8_t data;
};
static_assert(sizeof(SpiAccess) == 3);
static_assert(offsetof(SpiAccess, channel) == 0);
static_assert(offsetof(SpiAccess, reg) == 1);
static_assert(offsetof(SpiAccess, data) == 2);

// --- Board::kMaintenance: the E1 framers ----------------------------------------------

// A trunk's synchronisation state and error counters: the record goes in zeroed but
// for `trunk` and comes back filled.
inline constexpr unsigned long E1_TRUNK_STATUS = 0xC0504D03;
struct [[gnu::packed]] E1TrunkStatus {
  std::uint32_t trunk;
  std::uint8_t unused1[32];
  std::uint32_t slips;
  std::uint32_t loss_bf;
  std::uint32_t loss_carrier;
  std::uint32_t ais;
  std::uint32_t rai;
  std::uint8_t unused2[20];
  std::uint32_t state;  // a trunk state: normal 0 .. disabled 6
};
static_assert(sizeof(E1TrunkStatus) == 80);
static_assert(offsetof(E1TrunkStatus, trunk) == 0);
static_assert(offsetof(E1TrunkStatus, unused1) == 4);
static_assert(offsetof(E1TrunkStatus, slips) == 36);
static_assert(offsetof(E1TrunkStatus, loss_bf) == 40);
static_assert(offsetof(E1TrunkStatus, loss_carrier) == 44);
static_assert(offsetof(E1TrunkStatus, ais) == 48);
static_assert(offsetof(E1TrunkStatus, rai) == 52);
static_assert(offsetof(E1TrunkStatus, unused2) == 56);
static_assert(offsetof(E1TrunkStatus, state) == 76);

// The trunks' transmit-clock mask (bit n: trunk n), passed as the value itself.
inline constexpr unsigned long E1_TRANSMIT_CLOCK = 0xC0044D0B;

// --- Board::kE1Cas: channel-associated signalling --------------------------------------

// Opens or closes a trunk's signalling; the trunk number is the value itself.
inline constexpr unsigned long CAS_OPEN_TRUNK = 0x80044300;
inline constexpr unsigned long CAS_CLOSE_TRUNK = 0x80044301;

// A timeslot's signalling bits (the low 4 of each byte). Also the record read from the
// device whenever a timeslot's received bits change.
inline constexpr unsigned long CAS_SET_BITS = 0xC00C4302;
inline constexpr unsigned long CAS_GET_BITS = 0xC00C4303;
struct [[gnu::packed]] CasChannel {
  std::uint32_t trunk;
  std::uint32_t timeslot;
  std::uint8_t rx;
  std::uint8_t tx;
  std::uint8_t padding[2];
};
static_assert(sizeof(CasChannel) == 12);
static_assert(offsetof(CasChannel, trunk) == 0);
static_assert(offsetof(CasChannel, timeslot) == 4);
static_assert(offsetof(CasChannel, rx) == 8);
static_assert(offsetof(CasChannel, tx) == 9);
static_assert(offsetof(CasChannel, padding) == 10);

// Switches a timeslot's signalling on (`off` 0, sending `channel.tx`) or off (`off` 1).
inline constexpr unsigned long CAS_CONFIGURE = 0xC0104304;
struct [[gnu::packed]] CasConfigure {
  CasChannel channel;
  std::uint32_t off;
};
static_assert(sizeof(CasConfigure) == 16);
static_assert(offsetof(CasConfigure, channel) == 0);
static_assert(offsetof(CasConfigure, off) == 12);

}  // namespace Board

// --- Board::kModemControl: the DSP modems ---------------------------------------------
// These codes carry no direction or size bits. A request by value answers with its
// result; a record is 32-bit words in the host's byte order.

namespace Board {

// By value 0: allocates the lowest free modem to the open; returns its number.
inline constexpr unsigned long MCTL_ALLOCATE = 0xbb0b;
// By value 0: returns the TDM timeslot of the open's modem.
inline constexpr unsigned long MCTL_GET_TIMESLOT = 0xbb15;
// By value the previous modem number (-1 to start): returns the next one, ENODEV after
// the last. Any open may ask.
inline constexpr unsigned long MCTL_NEXT_MODEM = 0xbb0c;

// Digital data modes: V.110 bit 0, 8 bit 1, 7 bit bit 2.
inline constexpr unsigned long MCTL_SET_DDM = 0xbb16;
struct [[gnu::packed]] ModemMode {
  std::int32_t modem;
  std::uint32_t mask;
};
static_assert(sizeof(ModemMode) == 8);
static_assert(offsetof(ModemMode, modem) == 0);
static_assert(offsetof(ModemMode, mask) == 4);

// Requests on the modem alone; `arg` is always -1.
inline constexpr unsigned long MCTL_RESET_DMP = 0xbb3a;
inline constexpr unsigned long MCTL_ANSWER = 0xbb03;
inline constexpr unsigned long MCTL_ORIGINATE = 0xbb04;
inline constexpr unsigned long MCTL_ORIGINATE_FAX = 0xbb40;
struct [[gnu::packed]] ModemCommand {
  std::int32_t modem;
  std::int32_t arg;
};
static_assert(sizeof(ModemCommand) == 8);
static_assert(offsetof(ModemCommand, modem) == 0);
static_assert(offsetof(ModemCommand, arg) == 4);

// Sets one modem parameter.
inline constexpr unsigned long MCTL_SET_DMP = 0xbb38;
struct [[gnu::packed]] ModemParameter {
  std::int32_t modem;
  std::int32_t offset;
  std::int32_t value;
};
static_assert(sizeof(ModemParameter) == 12);
static_assert(offsetof(ModemParameter, modem) == 0);
static_assert(offsetof(ModemParameter, offset) == 4);
static_assert(offsetof(ModemParameter, value) == 8);

// --- Board::kRtp: the RTP session requests -----------------------------------------------
// One session per open. The requests without a record take the value 0.

// Begins the open's session with the connection record above.
inline constexpr unsigned long RTP_BEGIN_SESSION = 0xc02c5200;
// Adds the session's TDM channel: `tdm` -1 lets the driver choose; it writes back the one
// it allocated.
inline constexpr unsigned long RTP_ADD_CHANNEL = 0xc0105202;
// The teardown of a session is three requests, sent in the order of their names.
inline constexpr unsigned long RTP_TEARDOWN_1 = 0x2000520a;
inline constexpr unsigned long RTP_TEARDOWN_2 = 0x20005203;
inline constexpr unsigned long RTP_TEARDOWN_3 = 0x2000520b;
inline constexpr unsigned long RTP_TX_START = 0x20005204;
inline constexpr unsigned long RTP_TX_STOP = 0x20005205;
// Attaches a radio controller's own session (the attach record above).
inline constexpr unsigned long RTP_ATTACH_SESSION = 0xc0085209;

// Packet detection on: the driver reports type 1 events after `timeout` ms without
// packets. Nine words: 1, 0, timeout, 0, 0, timeout, 0, 0, 0.
inline constexpr unsigned long RTP_SET_EVENT_PD = 0xc024520c;
struct [[gnu::packed]] rtp_pd_params {
  std::uint32_t words[9];
};
static_assert(sizeof(rtp_pd_params) == 36);
static_assert(offsetof(rtp_pd_params, words) == 0);
inline constexpr rtp_pd_params pd_params(std::uint32_t timeout) { return {{1, 0, timeout, 0, 0, timeout, 0, 0, 0}}; }

// Packet detection off: a pointer to the int32 1.
inline constexpr unsigned long RTP_RESET_EVENT_PD = 0x8004520d;

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
static_assert(offsetof(mix_slot, dev_no) == 0);
static_assert(offsetof(mix_slot, type) == 4);
static_assert(offsetof(mix_slot, number) == 8);

// One link of the sum of `rx`: `tx` added at `gain`.
struct [[gnu::packed]] mix_rx_param {
  mix_slot rx;
  mix_slot tx;
  std::int32_t gain;
};
static_assert(sizeof(mix_rx_param) == 28);
static_assert(offsetof(mix_rx_param, rx) == 0);
static_assert(offsetof(mix_rx_param, tx) == 12);
static_assert(offsetof(mix_rx_param, gain) == 24);

// In: the unit the previous request returned, -1 for the first; out: the next unit.
struct [[gnu::packed]] mix_unit_info {
  std::int32_t dev_no;
  std::int32_t tdm_channels;
  std::int32_t reserved;  // not read
  std::int32_t mixer_inputs;
};
static_assert(sizeof(mix_unit_info) == 16);
static_assert(offsetof(mix_unit_info, dev_no) == 0);
static_assert(offsetof(mix_unit_info, tdm_channels) == 4);
static_assert(offsetof(mix_unit_info, reserved) == 8);
static_assert(offsetof(mix_unit_info, mixer_inputs) == 12);

inline constexpr unsigned long MIX_RX_CLEAR = 0x800c4d02;   // mix_slot: empties its sum
inline constexpr unsigned long MIX_RX_ADD = 0x801c4d03;     // mix_rx_param
inline constexpr unsigned long MIX_RX_REMOVE = 0x801c4d04;  // mix_rx_param, gain not read
inline constexpr unsigned long MIX_TDM = 0x800c4d06;        // mix_slot: returns its timeslot
inline constexpr unsigned long MIX_UNIT_INFO = 0x80104d07;  // mix_unit_info; negative after the last

}  // namespace Board
