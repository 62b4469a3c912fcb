#include "app/command_line.h"

#include <array>
#include <string_view>

#include "web/updater.h"

namespace auralist {

namespace {

// Qt's own options (QGuiApplication, QApplication and the xcb platform),
// with one dash or two; these take a value as the next argument.
constexpr std::array<std::string_view, 17> kQtOptionsWithValue = {"platform",
                                                                  "platformpluginpath",
                                                                  "platformtheme",
                                                                  "plugin",
                                                                  "qwindowgeometry",
                                                                  "qwindowicon",
                                                                  "qwindowtitle",
                                                                  "session",
                                                                  "display",
                                                                  "name",
                                                                  "title",
                                                                  "geometry",
                                                                  "style",
                                                                  "stylesheet",
                                                                  "visual",
                                                                  "cmap",
                                                                  "ncols"};
constexpr std::array<std::string_view, 6> kQtFlags
    = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

std::string_view optionName(std::string_view arg)
{
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    return arg.substr(0, arg.find('='));
}

template <size_t N> bool isOneOf(std::string_view name, const std::array<std::string_view, N> &names)
{
    for (std::string_view n : names) {
        if (n == name)
            return true;
    }
    return false;
}

} // namespace

CommandLine readCommandLine(int argc, const char *const *argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--")
            break;
        if (arg.size() < 2 || arg[0] != '-')
            continue;
        if (arg == "--help" || arg == "-h")
            return {CommandLine::Action::Help, {}};
        if (arg == "--version")
            return {CommandLine::Action::Version, {}};
        const std::string_view name = optionName(arg);
        if (isOneOf(name, kQtOptionsWithValue)) {
            if (arg.find('=') == std::string_view::npos)
                ++i;
            continue;
        }
        if (isOneOf(name, kQtFlags) || name.starts_with("qmljsdebugger"))
            continue;
        return {CommandLine::Action::Error,
                "auralist: unknown option '" + std::string(arg) + "'\nTry 'auralist --help' for more information.\n"};
    }
    return {};
}

std::vector<std::string> pathArguments(int argc, const char *const *argv)
{
    std::vector<std::string> paths;
    bool sawEnd = false;
    for (int i = 1; i < argc; ++i) {
        if (!sawEnd && std::string_view(argv[i]) == "--") {
            sawEnd = true;
            continue;
        }
        paths.emplace_back(argv[i]);
    }
    return paths;
}

std::string usageText()
{
    return "Usage: auralist [OPTION]... [--] [FILE|FOLDER]...\n"
           "Browse and audition sound files: every sound in the folders and files named\n"
           "(folders to any depth) is listed, and the first one starts playing.\n"
           "\n"
           "Options:\n"
           "  -h, --help       show this help and exit\n"
           "      --version    show the version and exit\n"
           "  --               end of options: every argument after it is a path\n"
           "Qt's own options (-platform NAME, -style NAME, -reverse, ...) work as usual.\n"
           "\n"
           "Settings file:\n"
           "  $XDG_CONFIG_HOME/Auralist/Auralist.conf (default ~/.config/Auralist/Auralist.conf)\n"
           "\n"
           "Environment:\n"
           "  AURALIST_SITE_HOST         host (and :port) of the update check; empty turns it off\n"
           "  AURALIST_FEEDBACK_ADDRESS  address of the feedback mail\n"
           "  AURALIST_PAYMENT_HOST      host of the donation page\n"
           "  AURALIST_PAYMENT_ACCOUNT   account named in the donation link\n"
           "  AURALIST_DEBUG             set to anything: developer log on standard error\n"
           "  XDG_CONFIG_HOME            where the settings file lives\n"
           "  XDG_DATA_HOME              where the home Trash lives\n"
           "\n"
           "Standard output carries one line per event (each path taken in, \"done\", ...).\n"
           "See auralist(1) for the keys and settings.\n";
}

std::string versionText()
{
    return "Auralist " + std::to_string(Updater::kCurrentVersion) + "\n";
}

} // namespace auralist
