#include "server/start_up/slot_factories.h"

#include "radio/rtp_ed137_factory.h"
#include "radio/rtp_lemz_factory.h"
#include "signalling/isdn_factory.h"
#include "signalling/pstn_factory.h"
#include "slots/echo/echo_slot.h"
#include "slots/ext/ext_slot.h"
#include "slots/hdlc/hdlc_slot.h"
#include "slots/map/map_slot.h"
#include "slots/mcc/mcc_slot.h"
#include "slots/mixer/mixer_factory.h"
#include "slots/modem/modem_factory.h"
#include "slots/rtp/rtp_slot.h"
#include "slots/t38/t38_soft_slot.h"
#include "slots/voice/voice_factory.h"

void MakeSlotFactories() {
  MapFactory::instance();
  PstnFactory::instance();
  RtpFactory::instance();
  ModemFactory::instance();
  Mixer::MixerFactory::instance();
  ExtFactory::instance();
  MccFactory::instance();
  EchoFactory::instance();
  VoiceFactory::instance();
  T38SoftFactory::instance();
  IsdnFactory::instance();
  RtpLEMZFactory::instance();
  RtpED137Factory::instance();
  HdlcSlotFactory::instance();
}
