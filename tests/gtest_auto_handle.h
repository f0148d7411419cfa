// GoogleTest built single-threaded on Windows leaves out the handle holder its death tests still use;
// forced into GoogleTest's own compilation only, as the threaded build defines it.
#ifndef SETUP_TEST_GTEST_AUTO_HANDLE_H
#define SETUP_TEST_GTEST_AUTO_HANDLE_H

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace testing
{
namespace internal
{

class AutoHandle
{
public:
    typedef void *Handle;
    AutoHandle() : handle_(INVALID_HANDLE_VALUE) {}
    explicit AutoHandle(Handle handle) : handle_(handle) {}
    ~AutoHandle() { Reset(); }

    Handle Get() const { return handle_; }
    void Reset() { Reset(INVALID_HANDLE_VALUE); }
    void Reset(Handle handle)
    {
        if (handle_ != handle && handle_ != NULL && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    Handle handle_;
    AutoHandle(const AutoHandle &);
    AutoHandle &operator=(const AutoHandle &);
};

}  // namespace internal
}  // namespace testing

#endif
