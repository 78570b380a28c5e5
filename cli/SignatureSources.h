#pragma once

// The signature lists qirn-scan is given: sa.kvd files read by the exact
// signature-file rules, every other list through the importer; all merged
// into one list in the order given.

#include "engine/signatures/SignatureList.h"

#include <cstdio>
#include <optional>
#include <span>
#include <string>

namespace qirn {

// The reason the lists cannot be loaded, or nothing. Rejected lines of an
// imported list are named on err and do not stop the load.
std::optional<std::string> LoadSignatureSources(
    SignatureList& list, std::span<const std::string> files, std::FILE* err);

// The lists of qirn-scan --signatures, or sa.kvd beside the program when none
// is given; names gets their names, joined by ", ". The reason they cannot be
// loaded, or nothing.
std::optional<std::string> LoadScanSignatures(
    SignatureList& list, std::span<const std::string> files, std::string& names, std::FILE* err);

}  // namespace qirn
