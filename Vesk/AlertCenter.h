// The application's alerts: every question it asks goes through here, so that the alerts still
// waiting for an answer are known (the test state dump lists them) and each answer is delivered
// once.
//
// Alerts are modal windows that answer later through their completion (GTK's do not block). A
// window closed with its parent answers with the cancel button. Main thread only.
#pragma once

#include "Platform/UI/Alert.h"

#include <cstdint>
#include <vector>

typedef struct _GtkWindow GtkWindow;

namespace vesk {

class AlertCenter
{
public:
    /// An alert that waits for its answer.
    struct OpenAlert
    {
        uint64_t id = 0;
        platform::Alert alert;
        /// The window it is modal for; null for the whole application.
        GtkWindow* parent = nullptr;
    };

    static AlertCenter& shared();

    /// Shows `alert` over `parent` (null: over the whole application) and calls `completion` with
    /// the button chosen once the user answers.
    void present(const platform::Alert& alert, GtkWindow* parent, platform::AlertCompletion completion);

    /// The alerts still waiting, oldest first.
    const std::vector<OpenAlert>& openAlerts() const { return open_; }
    /// True while an alert is open over `parent`.
    bool hasOpenAlert(GtkWindow* parent) const;

private:
    std::vector<OpenAlert> open_;
    uint64_t nextId_ = 1;
};

} // namespace vesk
