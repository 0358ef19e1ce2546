#pragma once
// The PSTN signalling slot family's place in the factory registry.

#include "server/declining_factory.h"

class PstnFactory : public DecliningFactory {
public:
  static PstnFactory& instance() {
    static PstnFactory factory;
    return factory;
  }

private:
  PstnFactory() : DecliningFactory("PSTN") {}
};
