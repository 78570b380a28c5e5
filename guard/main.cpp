#include "engine/platform/Platform.h"
#include "guard/GuardCommand.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> args = qirn::ProgramArguments(argc, argv);
    return qirn::RunGuardCommand(args, stdout, stderr);
}
