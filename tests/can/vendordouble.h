#pragma once
// The test's handle on one of the vendor library doubles (tests/can/doubles): loads the
// double by its full path, as the driver under test does, so both share its state, and
// drives it through its control functions. The double stays loaded while this object
// lives, so its log outlasts the driver's own unloading.

#include "tests/can/doubles/doublecontrol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <dlfcn.h>

class TVendorDouble {
public:
    explicit TVendorDouble(const char* path)
        : path_(path), handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL))
    {
        if (!handle_) {
            ADD_FAILURE() << "cannot load the double " << path << ": " << dlerror();
            return;
        }
        reset_ = reinterpret_cast<QvDoubleResetFn>(dlsym(handle_, "QvDoubleReset"));
        log_ = reinterpret_cast<QvDoubleLogFn>(dlsym(handle_, "QvDoubleLog"));
        fail_ = reinterpret_cast<QvDoubleFailFn>(dlsym(handle_, "QvDoubleFail"));
        set_ = reinterpret_cast<QvDoubleSetFn>(dlsym(handle_, "QvDoubleSet"));
        pushRx_ = reinterpret_cast<QvDoublePushRxFn>(dlsym(handle_, "QvDoublePushRx"));
        Reset();
    }
    ~TVendorDouble()
    {
        if (handle_) dlclose(handle_);
    }
    TVendorDouble(const TVendorDouble&) = delete;
    TVendorDouble& operator=(const TVendorDouble&) = delete;

    const char* Path() const { return path_; }
    void Reset() { if (reset_) reset_(); }
    // The calls since the last reset, one entry each.
    std::vector<std::string> Calls() const
    {
        std::vector<std::string> calls;
        std::istringstream lines(log_ ? log_() : "");
        for (std::string line; std::getline(lines, line);) calls.push_back(line);
        return calls;
    }
    // Further Calls() start after what was recorded so far (failures and values stay).
    void ClearLog() { calls_ = Calls().size(); }
    // The calls since the last ClearLog.
    std::vector<std::string> NewCalls() const
    {
        std::vector<std::string> all = Calls();
        return {all.begin() + static_cast<long>(std::min(calls_, all.size())), all.end()};
    }
    void Fail(const char* function, int from, int count, int64_t status) { fail_(function, from, count, status); }
    void FailAlways(const char* function, int64_t status) { fail_(function, 1, 1 << 30, status); }
    void Set(const char* key, int64_t value) { set_(key, value); }
    void PushRx(uint32_t stamp, uint32_t id, const std::array<uint8_t, 8>& data) { pushRx_(stamp, id, data.data()); }

private:
    const char* path_;
    void* handle_;
    QvDoubleResetFn reset_ = nullptr;
    QvDoubleLogFn log_ = nullptr;
    QvDoubleFailFn fail_ = nullptr;
    QvDoubleSetFn set_ = nullptr;
    QvDoublePushRxFn pushRx_ = nullptr;
    size_t calls_ = 0;
};
