#pragma once
// vantord's face on the system bus: the engine's state and commands as methods of
// org.vantor.Monitor1, every call authorized by polkit for the caller the bus names.
//
// The bus has a thread of its own (sd-bus is not thread-safe, and a slow polkit answer must not
// hold the engine). A call is authorized there, then its work runs on the engine's loop (the state)
// or on a worker of the service's own (what waits on Samba: the files, the closes), and its reply
// goes back through the bus thread. Signals carry no data: anybody on the bus may hear a signal,
// so a client learns that something changed and asks, authorized, what.

#include "engine/Engine.h"
#include "engine/Worker.h"

#include <functional>
#include <memory>
#include <string>

namespace vantor {

class MonitorBusService {
public:
    struct Options {
        // The bus to serve on; empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).
        std::string address;
        LogFn log;
    };

    explicit MonitorBusService(Engine& engine, Options options);
    ~MonitorBusService();
    MonitorBusService(const MonitorBusService&) = delete;
    MonitorBusService& operator=(const MonitorBusService&) = delete;

    // Connects, exports the object, takes the name and starts the bus thread; the error text when
    // that failed (then nothing runs). Call on the engine's loop thread, before it runs.
    std::string start();
    // Stops the bus thread and lets the name go.
    void stop();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vantor
