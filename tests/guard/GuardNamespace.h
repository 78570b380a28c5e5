#pragma once

#include <string>

namespace qirn::test {

// Why the test process is not in a private mount namespace; empty when it is.
const std::string& PrivateMountNamespaceProblem();

}  // namespace qirn::test
