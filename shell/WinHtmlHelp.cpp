// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/WinHtmlHelp.h"

#include <QFile>
#include <QLibrary>

#include <memory>

namespace {
using TNativeHtmlHelp = THelpWindowHandle (*)(THelpWindowHandle, const char*, std::uint32_t, std::uint32_t);

THtmlHelpLoader SystemLoader()
{
    auto library = std::make_shared<QLibrary>();
    return {
        [library](const char* name) {
            library->setFileName(QString::fromLatin1(name));
            return library->load();
        },
        [library](const char* name) -> THtmlHelpFunction {
            if (auto native = reinterpret_cast<TNativeHtmlHelp>(library->resolve(name)))
                return native;
            return {};
        },
        [library] { library->unload(); },
    };
}

struct THtmlHelpBinding {
    THtmlHelpLoader Loader = SystemLoader();
    bool Loaded = false;
    THtmlHelpFunction Function; // valid only while Loaded

    ~THtmlHelpBinding() { Release(); }

    void Release()
    {
        if (Loaded && Loader.Unload)
            Loader.Unload();
        Loaded = false;
        Function = nullptr;
    }
};

THtmlHelpBinding& Binding()
{
    static THtmlHelpBinding binding;
    return binding;
}
} // namespace

THelpWindowHandle HtmlHelp(THelpWindowHandle caller, const QString& file, std::uint32_t command, std::uint32_t data)
{
    auto& binding = Binding();
    if (!binding.Loaded && binding.Loader.Load(HtmlHelpLibraryName)) {
        binding.Loaded = true;
        binding.Function = binding.Loader.Resolve(HtmlHelpFunctionName);
    }
    if (!binding.Function)
        return 0;
    return binding.Function(caller, QFile::encodeName(file).constData(), command, data);
}

void SetHtmlHelpLoader(THtmlHelpLoader loader)
{
    auto& binding = Binding();
    binding.Release();
    binding.Loader = loader.Load ? std::move(loader) : SystemLoader();
}

void ReleaseHtmlHelp()
{
    Binding().Release();
}
