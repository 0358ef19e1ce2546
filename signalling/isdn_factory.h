#pragma once
// The ISDN and ATS-QSIG slot family's place in the factory registry.

#include "server/declining_factory.h"

class IsdnFactory : public DecliningFactory {
public:
  static IsdnFactory& instance() {
    static IsdnFactory factory;
    return factory;
  }

private:
  IsdnFactory() : DecliningFactory("ISDN") {}
};
