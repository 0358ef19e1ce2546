#pragma once
// The slot factories start-up makes, in its order. A factory links in when it is first
// made, once per process, so every test of this program that needs one of them makes
// them all through here: the order of asking then holds whichever test runs first.

#include "radio/rtp_ed137_factory.h"
#include "radio/rtp_lemz_factory.h"
#include "signalling/isdn_factory.h"
#include "signalling/pstn_factory.h"
#include "slots/echo/echo_slot.h"
#include "slots/ext/ext_slot.h"
#include "slots/map/map_slot.h"
#include "slots/mixer/mixer_factory.h"

namespace test {

inline void make_start_up_factories() {
  MapFactory::instance();
  PstnFactory::instance();
  Mixer::MixerFactory::instance();
  ExtFactory::instance();
  EchoFactory::instance();
  IsdnFactory::instance();
  RtpLEMZFactory::instance();
  RtpED137Factory::instance();
}

}  // namespace test
