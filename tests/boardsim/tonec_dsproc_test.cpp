// The tone and DSP models: the requests they refuse, how they log the rest, their state
// lines, and the event records the control socket's "set ... event" lines deliver.

#include "boardsim/dsproc.h"
#include "boardsim/tonec.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>

#include "boardsim/control.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"
#include "tests/support/record_bytes.h"

namespace test {
namespace {

using Lines = std::vector<std::string>;

class ToneDspModelTest : public BoardTest {
protected:
  BoardSim::Tonec& tonec = sim.add<BoardSim::Tonec>();
  BoardSim::Dsproc& dsproc = sim.add<BoardSim::Dsproc>();
  // As the services open them.
  Fd dtmf{Board::io().open(Board::kDtmf, O_RDONLY | O_NONBLOCK)};
  Fd dsp{Board::io().open(Board::kDsp, O_RDWR | O_NONBLOCK)};

  Lines run(std::string_view line) { return BoardSim::control_command(sim, line); }
  // The request's errno, 0 when it was served.
  template <class Record>
  static int request(Fd const& fd, unsigned long code, Record record) {
    return Board::io().ioctl(fd.lowlevel_fd(), code, &record) == 0 ? 0 : errno;
  }
  static int by_value(Fd const& fd, unsigned long code, unsigned long value) {
    int const result = Board::io().ioctl_value(fd.lowlevel_fd(), code, value);
    return result < 0 ? errno : 0;
  }
  // The log's last entry of the device, without its time.
  std::string last(char const* device) {
    auto const entries = sim.requests(device);
    std::ostringstream text;
    text << entries.back();
    return text.str().substr(text.str().find(' ') + 1);
  }
  // One read of a whole event record, as its bytes.
  static std::string read_event(Fd const& fd, std::size_t size) {
    std::string record(size + 1, '\0');
    EXPECT_EQ(Board::io().read(fd.lowlevel_fd(), record.data(), record.size()), static_cast<ssize_t>(size));
    record.resize(size);
    return record;
  }
};

TEST_F(ToneDspModelTest, TonecRefusesWhatADriverWouldAndServesTheReadOnlyOpen) {
  ASSERT_TRUE(dtmf) << Errno();
  EXPECT_EQ(request(dtmf, 0x40044208, std::uint32_t{1}), ENOTTY) << "request 8 is not the device's";
  EXPECT_EQ(request(dtmf, Board::CHANNEL_LMS_ON, std::uint32_t{1}), EINVAL) << "a by-value request given a record";
  EXPECT_EQ(by_value(dtmf, Board::DTMF_DIAL, 1), EFAULT) << "a record request given a value";
  EXPECT_EQ(request(dtmf, Board::DTMF_ENABLE_DETECTOR, Board::DtmfEnable{3, 0}), EINVAL) << "id 0";
  Board::SelcalDial selcal{3, 12000, {'A', 'B', 'C', 'D'}, {0, 1}};
  EXPECT_EQ(request(dtmf, Board::SELCAL_DIAL, selcal), EINVAL) << "the last two bytes are not zero";
  EXPECT_EQ(last(Board::kDtmf), "/dev/dtmf ioctl SELCAL_DIAL ts=3 amp=12000 signs=\"ABCD\" -> EINVAL");

  EXPECT_EQ(request(dtmf, Board::DTMF_CONFIGURE_DETECTOR, Board::DtmfDetector{3, 10, 20, 30, 40}), 0);
  EXPECT_EQ(last(Board::kDtmf), "/dev/dtmf ioctl DTMF_CONFIGURE_DETECTOR ts=3 twist=10 ratio=20 silence=30 noise=40");
  EXPECT_EQ(request(dtmf, Board::IVA_CONFIGURE_DETECTOR, Board::IvaDetector{3, -12}), 0);
  EXPECT_EQ(last(Board::kDtmf), "/dev/dtmf ioctl IVA_CONFIGURE_DETECTOR ts=3 level=-12");
  EXPECT_EQ(request(dtmf, Board::SELCAL_DIAL, Board::SelcalDial{3, 900, {'A', '\x01', 'C', 'D'}, {}}), 0);
  EXPECT_EQ(last(Board::kDtmf), "/dev/dtmf ioctl SELCAL_DIAL ts=3 amp=900 signs=\"A\\x01CD\"");

  EXPECT_EQ(run("state dtmf 3"),
            (Lines{"ts=3 detector=off id=0 lms=off reject=off iva=off tone=0/0/0/0", "ok"}));
  EXPECT_EQ(request(dtmf, Board::DTMF_ENABLE_DETECTOR, Board::DtmfEnable{3, 7}), 0);
  EXPECT_EQ(request(dtmf, Board::DTMF_DIAL, Board::DtmfTone{3, 697, 1209, 16384, 100}), 0);
  EXPECT_EQ(last(Board::kDtmf), "/dev/dtmf ioctl DTMF_DIAL ts=3 f1=697 f2=1209 a1=16384 a2=100");
  for (unsigned long code : {Board::CHANNEL_LMS_ON, Board::DTMF_REJECTION_ENABLE, Board::IVA_DETECTOR_ENABLE})
    EXPECT_EQ(by_value(dtmf, code, 3), 0);
  EXPECT_EQ(last(Board::kDtmf), "/dev/dtmf ioctl IVA_DETECTOR_ENABLE value=0x3");
  EXPECT_EQ(run("state dtmf 3"), (Lines{"ts=3 detector=on id=7 lms=on reject=on iva=on tone=697/1209/16384/100", "ok"}));
  for (unsigned long code : {Board::DTMF_DISABLE_DETECTOR, Board::CHANNEL_LMS_OFF, Board::DTMF_REJECTION_DISABLE,
                             Board::IVA_DETECTOR_DISABLE})
    EXPECT_EQ(by_value(dtmf, code, 3), 0);
  EXPECT_EQ(run("state dtmf 3"), (Lines{"ts=3 detector=off id=7 lms=off reject=off iva=off tone=697/1209/16384/100", "ok"}));
}

TEST_F(ToneDspModelTest, TonecEventsAreTheRecordsTheLinesDescribe) {
  auto record = [](std::uint32_t code, std::uint32_t ts, std::uint32_t timestamp, std::uint32_t id) {
    return RecordBytes(16).u32(0, code).u32(4, ts).u32(8, timestamp).u32(12, id).str();
  };
  EXPECT_EQ(run("set dtmf event 3 49 1000"), (Lines{"ok"}));
  EXPECT_EQ(read_event(dtmf, 16), record(0x31, 3, 1000, 0)) << "id 0";

  ASSERT_EQ(request(dtmf, Board::DTMF_ENABLE_DETECTOR, Board::DtmfEnable{3, 9}), 0);
  ASSERT_EQ(by_value(dtmf, Board::DTMF_DISABLE_DETECTOR, 3), 0);
  EXPECT_EQ(run("set dtmf event 3 0x1500 -1"), (Lines{"ok"}));
  EXPECT_EQ(read_event(dtmf, 16), record(0x1500, 3, 0xffffffff, 9)) << "the last enable's id, the disable aside";
  EXPECT_EQ(run("set dtmf event 4 1 2 5"), (Lines{"ok"}));
  EXPECT_EQ(read_event(dtmf, 16), record(1, 4, 2, 5));

  for (std::string_view bad : {"set dtmf event 3 1", "set dtmf event x 1 2", "set dtmf event 1 2 3 4 5", "set dtmf 1"})
    EXPECT_EQ(run(bad), (Lines{"error usage: set dtmf event <ts> <code> <timestamp> [<id>]"})) << bad;
  dtmf.close();
  EXPECT_EQ(run("set dtmf event 3 1 2"), (Lines{"error no open of /dev/dtmf"}));
}

TEST_F(ToneDspModelTest, DsprocRefusesWhatADriverWouldAndAnswersItsVersion) {
  ASSERT_TRUE(dsp) << Errno();
  EXPECT_EQ(request(dsp, 0x40046405, std::uint32_t{0}), ENOTTY);
  EXPECT_EQ(request(dsp, Board::VAD_VERSION, std::uint32_t{0}), EINVAL) << "a by-value request given a record";
  EXPECT_EQ(by_value(dsp, Board::DSPROC_ENABLE, 0), EFAULT);
  EXPECT_EQ(by_value(dsp, Board::VAD_VERSION, 1), EINVAL);
  EXPECT_EQ(Board::io().ioctl_value(dsp.lowlevel_fd(), Board::VAD_VERSION, 0), 2);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl VAD_VERSION value=0x0 result=2");
  EXPECT_EQ(run("set dsp version 1"), (Lines{"ok"}));
  EXPECT_EQ(Board::io().ioctl_value(dsp.lowlevel_fd(), Board::VAD_VERSION, 0), 1);

  EXPECT_EQ(request(dsp, Board::DSPROC_ENABLE, Board::DsprocFunctions{5, 0, 1}), EINVAL) << "id 0";
  EXPECT_EQ(request(dsp, Board::DSPROC_ENABLE, Board::DsprocFunctions{5, 1, 0}), EINVAL) << "mask 0";
  EXPECT_EQ(request(dsp, Board::DSPROC_ENABLE, Board::DsprocFunctions{5, 1, 0x20}), EINVAL) << "no such function";
  EXPECT_EQ(request(dsp, Board::DSPROC_DISABLE, Board::DsprocFunctions{5, 1, 1}), EINVAL) << "a disable carries no id";
  Board::DsprocConfigure configure{};
  configure.ts = 5;
  configure.kind = 4;
  EXPECT_EQ(request(dsp, Board::DSPROC_CONFIGURE, configure), EINVAL);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl DSPROC_CONFIGURE ts=5 kind=4 -> EINVAL");

  configure.kind = Board::kDsprocVad;
  configure.params = {{3, 127, 251}};
  EXPECT_EQ(request(dsp, Board::DSPROC_CONFIGURE, configure), 0);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl DSPROC_CONFIGURE ts=5 kind=VAD words=3,127,251");
  EXPECT_EQ(run("set dsp version 2"), (Lines{"ok"}));
  configure.params = {};
  configure.params.vad_v2 = {300, 900, 40};
  EXPECT_EQ(request(dsp, Board::DSPROC_CONFIGURE, configure), 0);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl DSPROC_CONFIGURE ts=5 kind=VAD voice=300 silence=900 energy=40");
  auto const configures = sim.requests(Board::kDsp, "ioctl DSPROC_CONFIGURE");
  ASSERT_GE(configures.size(), 2u);
  EXPECT_EQ(configures[configures.size() - 2].fields, "ts=5 kind=VAD words=3,127,251")
      << "logged as the version then read it";
  configure.kind = Board::kDsprocDelays;
  configure.params.delays = {8, 16};
  EXPECT_EQ(request(dsp, Board::DSPROC_CONFIGURE, configure), 0);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl DSPROC_CONFIGURE ts=5 kind=DELAYS rx=8 tx=16");
  configure.kind = Board::kDsprocRxGain;
  configure.params = {};
  configure.params.rx_gain_dB = 0xf6;
  EXPECT_EQ(request(dsp, Board::DSPROC_CONFIGURE, configure), 0);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl DSPROC_CONFIGURE ts=5 kind=RX_GAIN gain=246");
  configure.kind = Board::kDsprocToneFilter;
  configure.params.tone_filter = {2100, 1, 0, 400, 30};
  EXPECT_EQ(request(dsp, Board::DSPROC_CONFIGURE, configure), 0);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl DSPROC_CONFIGURE ts=5 kind=TONE_FILTER freq=2100 en=1 dur=400 level=30");
  configure.kind = Board::kDsprocSd;
  configure.params = {};
  EXPECT_EQ(request(dsp, Board::DSPROC_CONFIGURE, configure), 0);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl DSPROC_CONFIGURE ts=5 kind=SD");

  EXPECT_EQ(request(dsp, Board::DSPROC_ENABLE, Board::DsprocFunctions{5, 7, 0x113}), 0);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl DSPROC_ENABLE ts=5 id=7 mask=0x113");
  EXPECT_EQ(request(dsp, Board::DSPROC_ENABLE, Board::DsprocFunctions{5, 8, 0x8c}), 0);
  EXPECT_EQ(request(dsp, Board::DSPROC_DISABLE, Board::DsprocFunctions{5, 0, 0x101}), 0);
  EXPECT_EQ(last(Board::kDsp), "/dev/dsp ioctl DSPROC_DISABLE ts=5 mask=0x101");
  EXPECT_EQ(run("state dsp 5"), (Lines{"ts=5 on=0x9e vad=7 sd=7 mute=8 bss=7 ng=8 version=2", "ok"}));
  EXPECT_EQ(run("state dsp 6"), (Lines{"ts=6 on=0x0 vad=0 sd=0 mute=0 bss=0 ng=0 version=2", "ok"}));
}

TEST_F(ToneDspModelTest, DsprocEventsAreTheRecordsTheLinesDescribe) {
  ASSERT_EQ(request(dsp, Board::DSPROC_ENABLE, Board::DsprocFunctions{5, 7, 0x1}), 0);
  ASSERT_EQ(request(dsp, Board::DSPROC_ENABLE, Board::DsprocFunctions{5, 8, 0x12}), 0);
  // The header's words; the payload's fields follow from offset 12.
  auto record = [](std::uint32_t ts, std::uint32_t id, std::uint32_t type) {
    return RecordBytes(24).u32(0, ts).u32(4, id).u32(8, type);
  };
  struct Case {
    char const* line;
    std::string record;
  };
  for (Case const& c : {
           // dir_mask, vad_rx, vad_tx -1.
           Case{"set dsp event 5 vad 3 1 -1", record(5, 7, 1).u32(12, 3).u32(16, 1).u32(20, 0xffffffff).str()},
           Case{"set dsp event 5 sd 0 9", record(5, 9, 2).u32(12, 0).str()},
           Case{"set dsp event 5 sd 1", record(5, 8, 2).u32(12, 1).str()},
           // The scores' bits: 1.5 and the float nearest 3e38.
           Case{"set dsp event 5 bss 1.5", record(5, 8, 0x10).u32(12, 0x3fc00000).str()},
           Case{"set dsp event 5 bss 3e38", record(5, 8, 0x10).u32(12, 0x7f61b1e6).str()},
           // The frequency, then the presence byte.
           Case{"set dsp event 6 tone 2100 1", record(6, 0, 0x100).u32(12, 2100).u8(16, 1).str()},
           Case{"set dsp event 5 flags 0xa0000000 0xe0000000 3",
                record(5, 3, 0x200).u32(12, 0xa0000000).u32(16, 0xe0000000).str()},
       }) {
    EXPECT_EQ(run(c.line), (Lines{"ok"})) << c.line;
    EXPECT_EQ(read_event(dsp, 24), c.record) << c.line;
  }
  for (std::string_view bad : {"set dsp event 5", "set dsp event 5 vad 1 2", "set dsp event 5 bss x",
                               "set dsp event 5 bss 1.5x", "set dsp event 5 tone 1 256", "set dsp event 5 sd 1 2 3",
                               "set dsp event 5 ring 1", "set dsp event x sd 1"})
    EXPECT_EQ(run(bad).front().substr(0, 27), "error usage: set dsp event ") << bad;
  EXPECT_EQ(run("set dsp version x"), (Lines{"error usage: set dsp version <n>"}));
}

}  // namespace
}  // namespace test
