// GObject signal connections that hold their C++ receiver weakly.
//
// A widget may outlive the object that listens to it (a page kept alive by the notebook a moment
// longer, a window destroyed after its controller), and a signal may fire during teardown. So
// every connection of the application carries a `std::weak_ptr` to its receiver as its data,
// deleted with the connection, and the handler locks it first and does nothing when the receiver
// is gone. Handlers are plain functions of the signal's C signature.
#pragma once

#include <glib-object.h>
#include <memory>

namespace vesk {

/// Connects `callback` to `signal` of `instance`, with a weak reference to `receiver` as its data.
template <class T>
gulong connectWeak(gpointer instance, const char* signal, GCallback callback,
                   const std::shared_ptr<T>& receiver)
{
    return g_signal_connect_data(
        instance, signal, callback, new std::weak_ptr<T>(receiver),
        [](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<T>*>(data); }, GConnectFlags(0));
}

/// The receiver of a connection made by `connectWeak`, or null once it is gone.
template <class T> std::shared_ptr<T> receiverOf(gpointer data)
{
    return static_cast<std::weak_ptr<T>*>(data)->lock();
}

} // namespace vesk
