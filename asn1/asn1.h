#pragma once
// The ASN.1 runtime: value classes, records, visitors and coders.

#include "asn1/abstract_data.h"
#include "asn1/choice.h"
#include "asn1/coder_env.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/simple.h"
#include "asn1/strings.h"
#include "asn1/valid_checker.h"
