// D3DCompile, loaded at run time from d3dcompiler_47.dll (Windows, or Wine's implementation),
// so nothing that includes this links the compiler library. Used by the shader compiler tool
// and by the test that checks the committed bytecode; never by the driver.
#pragma once

#include <unknwn.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace quillo::shaderc {

struct CompileResult {
    bool ok = false;
    std::vector<uint8_t> bytecode;
    std::string messages;  // compiler errors and warnings, or why the compiler was not found
};

// GetProcAddress result as the function type it really is (the detour through a plain function
// pointer type keeps GCC's cast warning quiet).
template <typename Function>
Function LoadFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// Interface of ID3DBlob, declared here to keep the compiler headers out of the way.
struct Blob : IUnknown {
    virtual void* STDMETHODCALLTYPE GetBufferPointer() = 0;
    virtual SIZE_T STDMETHODCALLTYPE GetBufferSize() = 0;
};

using D3DCompileFunction = HRESULT(WINAPI*)(const void* source, SIZE_T sourceSize,
                                            const char* sourceName, const void* defines,
                                            void* include, const char* entryPoint,
                                            const char* target, UINT flags1, UINT flags2,
                                            Blob** code, Blob** errors);

// Which compiler D3DCompile is: "Wine <version> d3dcompiler_47" under Wine, otherwise
// "d3dcompiler_47 <file version>". Different compilers (and different versions) emit different
// but equally valid bytecode, so the generated headers record the one that made them.
inline std::string CompilerIdentity() {
    using WineVersionFunction = const char*(CDECL*)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto wineVersion =
        ntdll != nullptr ? LoadFunction<WineVersionFunction>(ntdll, "wine_get_version") : nullptr;
    if (wineVersion != nullptr) {
        return std::string("Wine ") + wineVersion() + " d3dcompiler_47";
    }
    std::string identity = "d3dcompiler_47";
    HMODULE versionLibrary = LoadLibraryW(L"version.dll");
    if (versionLibrary == nullptr) return identity;
    using SizeFunction = DWORD(WINAPI*)(const wchar_t*, DWORD*);
    using InfoFunction = BOOL(WINAPI*)(const wchar_t*, DWORD, DWORD, void*);
    using QueryFunction = BOOL(WINAPI*)(const void*, const wchar_t*, void**, UINT*);
    auto getSize = LoadFunction<SizeFunction>(versionLibrary, "GetFileVersionInfoSizeW");
    auto getInfo = LoadFunction<InfoFunction>(versionLibrary, "GetFileVersionInfoW");
    auto query = LoadFunction<QueryFunction>(versionLibrary, "VerQueryValueW");
    wchar_t path[MAX_PATH];
    HMODULE compiler = LoadLibraryW(L"d3dcompiler_47.dll");
    if (getSize != nullptr && getInfo != nullptr && query != nullptr && compiler != nullptr &&
        GetModuleFileNameW(compiler, path, MAX_PATH) != 0) {
        DWORD ignored = 0;
        std::vector<uint8_t> info(getSize(path, &ignored));
        void* fixed = nullptr;
        UINT fixedSize = 0;
        if (!info.empty() && getInfo(path, 0, DWORD(info.size()), info.data()) &&
            query(info.data(), L"\\", &fixed, &fixedSize) &&
            fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
            const auto* version = static_cast<const VS_FIXEDFILEINFO*>(fixed);
            char text[64];
            snprintf(text, sizeof text, " %lu.%lu.%lu.%lu",
                     static_cast<unsigned long>(HIWORD(version->dwFileVersionMS)),
                     static_cast<unsigned long>(LOWORD(version->dwFileVersionMS)),
                     static_cast<unsigned long>(HIWORD(version->dwFileVersionLS)),
                     static_cast<unsigned long>(LOWORD(version->dwFileVersionLS)));
            identity += text;
        }
    }
    if (compiler != nullptr) FreeLibrary(compiler);
    FreeLibrary(versionLibrary);
    return identity;
}

inline CompileResult CompileHlsl(const std::string& source, const char* sourceName,
                                 const char* entryPoint, const char* target, uint32_t flags) {
    CompileResult result;
    HMODULE library = LoadLibraryW(L"d3dcompiler_47.dll");
    if (library == nullptr) {
        result.messages = "d3dcompiler_47.dll could not be loaded";
        return result;
    }
    auto compile = LoadFunction<D3DCompileFunction>(library, "D3DCompile");
    if (compile == nullptr) {
        result.messages = "d3dcompiler_47.dll has no D3DCompile";
        FreeLibrary(library);
        return result;
    }
    Blob* code = nullptr;
    Blob* errors = nullptr;
    HRESULT hr = compile(source.data(), source.size(), sourceName, nullptr, nullptr, entryPoint,
                         target, flags, 0, &code, &errors);
    if (errors != nullptr) {
        const char* text = static_cast<const char*>(errors->GetBufferPointer());
        result.messages.assign(text, strnlen(text, errors->GetBufferSize()));
        errors->Release();
    }
    if (SUCCEEDED(hr) && code != nullptr) {
        const uint8_t* bytes = static_cast<const uint8_t*>(code->GetBufferPointer());
        result.bytecode.assign(bytes, bytes + code->GetBufferSize());
        result.ok = true;
    } else if (result.messages.empty()) {
        char text[64];
        snprintf(text, sizeof text, "D3DCompile failed with 0x%08lX",
                 static_cast<unsigned long>(hr));
        result.messages = text;
    }
    if (code != nullptr) code->Release();
    FreeLibrary(library);
    return result;
}

}  // namespace quillo::shaderc
