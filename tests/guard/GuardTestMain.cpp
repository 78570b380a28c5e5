// The guard tests' main: before any thread starts, the process enters a
// mount namespace of its own, so the tmpfs each test marks is seen by
// nobody else and a fault can hold up only the test's own processes.

#include "engine/Failure.h"
#include "tests/guard/GuardNamespace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace qirn::test {

namespace {

std::string& NamespaceProblem()
{
    static std::string problem = "not set up";
    return problem;
}

std::string EnterPrivateMountNamespace()
{
    if (::geteuid() != 0)
        return "needs root (mounts and fanotify permission events)";
    if (::unshare(CLONE_NEWNS) != 0)
        return std::string("unshare(CLONE_NEWNS): ") + qirn::ErrorText(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making / private: ") + qirn::ErrorText(errno);
    return {};
}

}  // namespace

const std::string& PrivateMountNamespaceProblem()
{
    return NamespaceProblem();
}

}  // namespace qirn::test

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    qirn::test::NamespaceProblem() = qirn::test::EnterPrivateMountNamespace();
    return RUN_ALL_TESTS();
}
