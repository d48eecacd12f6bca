#include "Vesk/AlertCenter.h"

#include "Platform/UI/GtkAlert.h"

#include <algorithm>

namespace vesk {

AlertCenter& AlertCenter::shared()
{
    static AlertCenter center;
    return center;
}

void AlertCenter::present(const platform::Alert& alert, GtkWindow* parent,
                          platform::AlertCompletion completion)
{
    const uint64_t id = nextId_++;
    open_.push_back(OpenAlert{id, alert, parent});
    platform::gtk::presentAlert(alert, parent, [this, id, completion = std::move(completion)](int button) {
        // The alert is gone before its answer acts, which may open the next one.
        open_.erase(
            std::remove_if(open_.begin(), open_.end(), [id](const OpenAlert& open) { return open.id == id; }),
            open_.end());
        if (completion)
            completion(button);
    });
}

bool AlertCenter::hasOpenAlert(GtkWindow* parent) const
{
    return std::any_of(open_.begin(), open_.end(),
                       [parent](const OpenAlert& open) { return open.parent == parent; });
}

} // namespace vesk
