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

# --- The emulator's TCP_INFO answer, corrected for this tree -----------------------------
# qemu-user 7.2 answers getsockopt(TCP_INFO) with 4 byte-swapped bytes, and the daemon's
# connection check would drop every controller link within a second. The shim puts the
# bytes back. Only the target's loader reads the preload list under the emulator's prefix:
# the host's programs that the tests start never see it.
add_library(tcp_info_shim SHARED ${CMAKE_CURRENT_SOURCE_DIR}/board/tcp_info_shim.cpp)
target_link_libraries(tcp_info_shim PRIVATE ${CMAKE_DL_LIBS})
file(MAKE_DIRECTORY ${GW_BOARD_ROOT}/etc)
file(GLOB gw_target_root_entries ${CMAKE_FIND_ROOT_PATH}/*)
foreach(entry ${gw_target_root_entries})
  get_filename_component(name ${entry} NAME)
  file(CREATE_LINK ${entry} ${GW_BOARD_ROOT}/${name} SYMBOLIC)
endforeach()
file(GENERATE OUTPUT ${GW_BOARD_ROOT}/etc/ld.so.preload CONTENT "$<TARGET_FILE:tcp_info_shim>\n")
# The test programs take the prefix from their emulator command; these start theirs
# through a shell, which hands it the environment's.
set_property(TEST tpkt_tshark tracer_tshark rtp_slots APPEND PROPERTY ENVIRONMENT QEMU_LD_PREFIX=${GW_BOARD_ROOT})

# The fault, with the target's plain root, and its correction. When the first fails, the
# emulator answers as the kernel does: the shim and this section can go.
add_executable(tcp_info_probe ${CMAKE_CURRENT_SOURCE_DIR}/board/tcp_info_probe.cpp)
add_test(NAME board_tcp_info.emulator_fault COMMAND qemu-ppc -L ${CMAKE_FIND_ROOT_PATH} $<TARGET_FILE:tcp_info_probe>)
set_tests_properties(board_tcp_info.emulator_fault PROPERTIES LABELS board PASS_REGULAR_EXPRESSION "^length=4 head=00 00 00 01\n")
add_test(NAME board_tcp_info.corrected COMMAND tcp_info_probe)
set_tests_properties(board_tcp_info.corrected PROPERTIES LABELS board PASS_REGULAR_EXPRESSION "^length=4 head=01 00 00 00\n")

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
  NetModel.PlayedInterfacesAnswerAsE1AndTheOthersReachTheKernel
  DigitalModems.InterfacesAndTheAuthenticationLinkInOneRun)
gw_emulator_cannot("libfaketime, which speeds the daemon's clock, exists for the host only"
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
      COMMAND ${CMAKE_SOURCE_DIR}/tools/with-board-binfmt ${binds} env QEMU_LD_PREFIX=${GW_BOARD_ROOT}
              ${GW_HOST_TEST_TREE}/tests/${program}
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
