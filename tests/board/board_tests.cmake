# The board build's tests: this tree is cross-built for the board (32-bit big-endian
# PowerPC, cmake/powerpc-linux-gnu.cmake) and ctest runs its programs under qemu-user.
# Tests that start other programs of the board need tools/with-board-binfmt around ctest
# (make test does that); the check below fails when it is missing.

# The host's test tree (make test's, with sanitizers): its daemon is the reference of the
# byte-for-byte test, and its harness drives the board's programs where this tree's cannot.
set(GW_HOST_TEST_TREE ${CMAKE_SOURCE_DIR}/build/test-g++ CACHE PATH "The host's test tree")

add_test(NAME board_binfmt
  COMMAND sh -c "test -e /proc/sys/fs/binfmt_misc/board-ppc || { echo 'the board build runs its tests under tools/with-board-binfmt (make test does), for their children of the board to start' >&2; exit 1; }")

# The board's daemon answers as the host's, byte for byte.
target_sources(e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/board/host_answers_test.cpp)
target_compile_definitions(e2e_tests PRIVATE GW_HOST_BIN_DIR="${GW_HOST_TEST_TREE}/bin")

# --- What the emulator (qemu-user 7.2) cannot serve --------------------------------------
# The one list: each entry the emulator's limit, then the tests it stops. They do not run
# in this tree; they run natively in the host's trees as before. gtest discovers the
# tests when ctest starts, so they are disabled by a file ctest reads after that.
set(gw_board_limits_file ${CMAKE_CURRENT_BINARY_DIR}/board_emulator_limits.cmake)
file(WRITE ${gw_board_limits_file} "# generated: the tests the emulator cannot serve\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${gw_board_limits_file})
function(gw_emulator_cannot reason)
  foreach(test ${ARGN})
    file(APPEND ${gw_board_limits_file} "set_tests_properties([=[${test}]=] PROPERTIES DISABLED TRUE)\n"
         "message([=[not under the emulator: ${test}: ${reason}]=])\n")
  endforeach()
endfunction()

gw_emulator_cannot("prctl(PR_SET_SECCOMP) is refused with EINVAL: no system call can be made to fail"
  ChildWait.WithoutASocketPairTheHandlerStillReaps
  ServerAcceptFailure.PausesTheListenerInsteadOfSpinning
  Tracer.OutOfDescriptorsPausesTheListenerInsteadOfSpinning
  AuthLink.AnAcceptThatFailsPausesTheListenerForASecond)
gw_emulator_cannot("a device request the emulator does not know fails with ENOSYS before the kernel sees the descriptor (EBADF expected)"
  SimTest.ARequestOnAClosedDescriptorIsTheSystemsToRefuse
  ServiceOpen.ToneServiceRetriesTheOpenOnlyToConfigure
  ServiceOpen.DspServiceRetriesTheOpenToConfigureAndToDisableTones)
gw_emulator_cannot("SIOCWANDEV is unknown to the emulator, which answers ENOSYS where the kernel refuses an interface that is not played with EOPNOTSUPP"
  NetModel.PlayedInterfacesAnswerAsE1AndTheOthersReachTheKernel)
gw_emulator_cannot("getsockopt(TCP_INFO) comes back as 4 byte-swapped bytes: the connection check drops every controller link within a second"
  AcceptorTest.SecondControllerIsRefusedAndTheLinkIsWatched
  HeartbeatTest.AControllerThatSendsNothingIsNeverTimedOut
  HeartbeatTest.ACommandArmsExactlyTwoMinutes
  HeartbeatTest.EveryCommandAndPingRestartsTheWatch
  HeartbeatTest.AfterAReconnectTheWatchIsIdleUntilTheFirstCommand
  BoardControl.TrunkStatusOfTheE1TrunksAndTheBriChannels
  BoardControl.BusTestThroughTheSwitch
  EndToEnd.SignalsFromTheSystem
  EndToEnd.CommandLineSignalsAndTheStatusDump
  FrameChannels.AnHdlcSlotOnAnMccSlotsLine
  Modems.DspModemsAndFaxInOneRun
  RtpSlots.SessionsOnTheSwitchTheirRtcpAndTheirEvents
  Session.TsharkAndErlangReadTheWholeSession
  Switch.ControllerLossReleasesTheSlots
  T38Soft.RelaysRunEndAndFailAsChildrenOfTheDaemon
  VoicePlayers.ANetworkPlayerPlaysItsStreamAndFailsWithoutOne
  VoicePlayers.AFilePlayerPlaysItsListAndSkipsWhatIsNoPhrase)
gw_emulator_cannot("SIOCWANDEV answers ENOSYS (EOPNOTSUPP expected), and getsockopt(TCP_INFO) drops the link within a second"
  DigitalModems.InterfacesAndTheAuthenticationLinkInOneRun)
gw_emulator_cannot("libfaketime exists for the host only, and getsockopt(TCP_INFO) drops the link within a second"
  EndToEnd.TheHeartbeatDropsAControllerSilentAfterACommand)

# --- The host's harness driving the board's programs -------------------------------------
# prctl(PR_SET_CHILD_SUBREAPER) is refused with EINVAL too; the tests that need it run the
# host-built harness, natively, on the board's programs, each mounted over the host's
# program of the same role in the test's own mount namespace.
function(gw_host_harness program)
  cmake_parse_arguments(arg "" "" "BIND;TESTS" ${ARGN})
  set(binds)
  foreach(bind ${arg_BIND})
    string(REPLACE "=" ";" pair ${bind})
    list(GET pair 0 target)
    list(GET pair 1 host_file)
    list(APPEND binds --bind $<TARGET_FILE:${target}> ${GW_HOST_TEST_TREE}/${host_file})
  endforeach()
  foreach(test ${arg_TESTS})
    gw_emulator_cannot("prctl(PR_SET_CHILD_SUBREAPER) is refused with EINVAL: host_harness.${test} runs it" ${test})
    add_test(NAME host_harness.${test}
      COMMAND ${CMAKE_SOURCE_DIR}/tools/with-board-binfmt ${binds} ${GW_HOST_TEST_TREE}/tests/${program}
              --gtest_filter=${test})
    # Exactly the one test must have run and passed: a filter that matches nothing passes too.
    set(labels board unit)
    if(program STREQUAL "e2e_tests")
      set(labels board e2e)
    endif()
    set_tests_properties(host_harness.${test} PROPERTIES LABELS "${labels}"
      PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test\\." FAIL_REGULAR_EXPRESSION "FAILED|Sanitizer|runtime error"
      ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1")
  endforeach()
endfunction()

gw_host_harness(foundation_tests BIND daemon_probe=tests/daemon_probe
  TESTS Daemon.ModeZeroRoutesEveryStreamToTheLogDaemon Daemon.ModeZeroRecordsAreByteExactAndOneFlushIsOneSend
        Daemon.ModeOneWritesTimeStampedLinesToTheHoursFile)
gw_host_harness(e2e_tests BIND server-sim=bin/server-sim server=bin/server
  TESTS EndToEnd.InTheBackgroundTheStandInAnswersUnderTheDaemonsOwnPid)
