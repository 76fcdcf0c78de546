// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>
#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

namespace app {

// The application object. Every exception that leaves an event handler ends here and is
// shown in the error box (message, title, error icon, OK); the program then goes on.
class TApplication : public QApplication {
    Q_OBJECT
public:
    // Shows the error box's text under the application's title.
    using ErrorPresenter = std::function<void(const QString& title, const QString& text)>;

    TApplication(int& argc, char** argv);

    // The application's title, from the executable's name.
    QString title() const { return title_; }

    // Replaces the error box (tests record instead of showing a modal box).
    void setErrorPresenter(ErrorPresenter presenter) { presenter_ = std::move(presenter); }

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the exception in flight the way an exception leaving a handler is shown.
    // Call from a catch block only.
    static void showCurrentException() noexcept;

private:
    void showError(const QString& message) noexcept;

    QString title_;
    ErrorPresenter presenter_;
};

// Runs a handler so that an exception leaving it is shown and goes no further: our
// handlers are called from inside Qt's own event code, which is not built to unwind.
template <typename F> void runGuarded(F&& handler) noexcept
{
    try {
        handler();
    } catch (...) {
        TApplication::showCurrentException();
    }
}

// The slot every handler of the form is bound through: `handler` called guarded, with the
// signal's arguments or, if it takes none, without. Controls emit plain signals; this is
// the one place that catches.
template <typename F> auto guarded(F handler)
{
    return [handler = std::move(handler)](const auto&... arguments) noexcept {
        runGuarded([&] {
            if constexpr (std::is_invocable_v<const F&, decltype(arguments)...>)
                handler(arguments...);
            else
                handler();
        });
    };
}

// The same for a member function of `object`.
template <typename Object, typename Method> auto guarded(Object* object, Method method)
{
    return guarded(std::bind_front(method, object));
}

} // namespace app
