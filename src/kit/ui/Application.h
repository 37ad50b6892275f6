#pragma once
// The application object: the event loop, the launch and termination hooks,
// activation (bringing our windows forward) and the activation policy, which
// on Linux decides whether our windows show in the taskbar.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kit {

class Image;
class Menu;
class Window;

enum class ActivationPolicy {
    Regular,    // windows appear in the taskbar
    Accessory,  // tray-only: windows stay out of the taskbar
    Prohibited,
};

class Application {
public:
    // Creates the platform application unless one exists already (unit tests
    // make their own); there is one Application per process.
    Application(int& argc, char** argv);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The running application; made on first use when the platform
    // application was created elsewhere.
    static Application& shared();

    // Runs willFinishLaunching now, didFinishLaunching on the loop's first
    // turn, then the event loop until quit; returns the exit code.
    int run();
    // Ends every wait of the main thread (and the programs they wait for),
    // runs the willTerminate hooks once and leaves the event loop. SIGTERM,
    // SIGINT and SIGHUP end up here too.
    void terminate();
    bool isTerminating() const;
    // Ends the process at once with `status`, after what registered with
    // at_quick_exit; static objects are not destroyed, so threads still
    // running cannot meet them half torn down. For the end of main.
    [[noreturn]] static void endProcess(int status);
    // Where every exit() of the process lands: while run() runs the loop, the
    // willTerminate hooks run once on the main thread (another thread that
    // calls exit() waits for that) and the process ends as endProcess() does;
    // once they have run, every exit() ends as endProcess() does; before
    // run(), the C library's exit(). In a child made by fork() it is _Exit():
    // only the process that made the application runs its way out.
    [[noreturn]] static void exitFromProcess(int status);

    std::function<void()> onWillFinishLaunching;
    std::function<void()> onDidFinishLaunching;
    std::function<void()> onDidBecomeActive;
    std::function<void()> onDidResignActive;
    // Several parties may need to tidy up on the way out; all of them run.
    void addWillTerminateHook(std::function<void()> hook);

    ActivationPolicy activationPolicy() const;
    void setActivationPolicy(ActivationPolicy policy);
    // The picture the desktop shows for our windows (title bars, task
    // switcher): one drawing at several pixel sizes, the closest one is used.
    void setIconImages(const std::vector<Image>& images);

    // Brings our frontmost visible window forward and gives it the keyboard.
    void activate();
    // Hides every window of ours; activate() or a window's show brings them back.
    void hide();
    bool isActive() const;
    bool isHidden() const;
    // A modal alert or panel is running.
    bool isModalRunning() const;
    static void beep();
    // A compositing manager runs, so see-through windows show what lies below.
    static bool hasCompositor();
    // Returns once the window server has carried out everything asked of it
    // so far: a window ordered out is off the screen for a grab that follows.
    static void syncWindowServer();

    // The application's menu: its key equivalents work in every window of
    // ours (after local monitors, before views), except the editing keys of
    // a focused text field.
    void setMainMenu(std::shared_ptr<Menu> menu);
    const std::shared_ptr<Menu>& mainMenu() const;

    std::vector<std::string> arguments() const;
    // Our kit windows, in creation order.
    std::vector<Window*> windows() const;
    Window* keyWindow() const;

private:
    struct Private;
    Application();
    std::unique_ptr<Private> d_;
};

}  // namespace kit
