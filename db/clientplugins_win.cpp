#include "db/clientplugins.h"

#include <QDir>

#include <windows.h>

#include <vector>

namespace {

// The client library's own types and functions, taken from the library that Qt's driver has
// loaded: the program itself does not link it.
struct Plugin;
struct Connection;
using Init = Connection *(*)(Connection *);
using Register = Plugin *(*)(Connection *, Plugin *);
using Close = void (*)(Connection *);
const char PluginDeclaration[] = "_mysql_client_plugin_declaration_";

// Filled in the window's thread before the first connection; only read after that.
std::vector<Plugin *> &loaded()
{
    static std::vector<Plugin *> plugins;
    return plugins;
}

template <typename Function>
Function exported(HMODULE module, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

// Never freed, so the library's own FreeLibrary of a plugin leaves it in place.
void clientplugins::load(const QString &folder)
{
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.dll")}, QDir::Files)) {
        const HMODULE module =
            LoadLibraryW(QDir::toNativeSeparators(dir.filePath(name)).toStdWString().c_str());
        if (!module)
            continue;
        if (auto *plugin = reinterpret_cast<Plugin *>(GetProcAddress(module, PluginDeclaration)))
            loaded().push_back(plugin);
    }
}

void clientplugins::offerToLibrary()
{
    const HMODULE library = GetModuleHandleW(L"libmariadb.dll");
    if (loaded().empty() || !library)
        return;
    const auto init = exported<Init>(library, "mysql_init");
    const auto registerPlugin = exported<Register>(library, "mysql_client_register_plugin");
    const auto close = exported<Close>(library, "mysql_close");
    if (!init || !registerPlugin || !close)
        return;
    // Starts the library again where it has been ended; the handle only takes the error of a
    // plugin that it knows already, which stays as it is.
    Connection *connection = init(nullptr);
    if (!connection)
        return;
    for (Plugin *plugin : loaded())
        registerPlugin(connection, plugin);
    close(connection);
}
