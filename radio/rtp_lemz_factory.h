#pragma once
// The LEMZ radio RTP slot family's place in the factory registry.

#include "server/declining_factory.h"

class RtpLEMZFactory : public DecliningFactory {
public:
  static RtpLEMZFactory& instance() {
    static RtpLEMZFactory factory;
    return factory;
  }

private:
  RtpLEMZFactory() : DecliningFactory("RTP Ext LEMZ") {}
};
