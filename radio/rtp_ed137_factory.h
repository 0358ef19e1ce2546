#pragma once
// The ED-137 radio RTP slot family's place in the factory registry.

#include "server/declining_factory.h"

class RtpED137Factory : public DecliningFactory {
public:
  static RtpED137Factory& instance() {
    static RtpED137Factory factory;
    return factory;
  }

private:
  RtpED137Factory() : DecliningFactory("RTP Ext ED137") {}
};
