// Which adapter the Direct3D 11 device is made on: exactly "NVIDIA" (with its NUL) wins, first
// match in enumeration order, with driver type UNKNOWN; anything else leaves the choice to the
// system's default adapter with driver type HARDWARE, and so does a failure on the chosen one,
// which is logged. The rule is checked everywhere; what D3D11CreateDevice gets, and that the
// committed eye-pass bytecode is accepted by a real device, in the Windows build only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "gpu/adapter_choice.h"

#if defined(_WIN32)
#include "gpu/d3d11/d3d11_backend.h"
#include "gpu/d3d11/device_creation.h"
#include "gpu/gpu_backend.h"
#include "platform/log_sink.h"
#endif

namespace quillo::test {
namespace {

using namespace quillo::gpu;

// The text, its NUL, then junk up to the end: the rule must stop at the NUL.
AdapterDescription Describe(const std::u16string& text) {
    AdapterDescription description;
    std::fill(std::begin(description.text), std::end(description.text), u'x');
    std::copy(text.begin(), text.end(), description.text);
    description.text[text.size()] = u'\0';
    return description;
}

TEST(AdapterChoice, FirstExactNvidiaInEnumerationOrderOtherwiseTheDefaultAdapter) {
    const struct {
        std::vector<std::u16string> adapters;
        std::optional<size_t> chosen;  // nullopt: the default adapter
    } cases[] = {
        {{u"NVIDIA"}, 0},
        {{u"Intel(R) UHD Graphics 630", u"NVIDIA"}, 1},
        {{u"NVIDIA", u"NVIDIA"}, 0},
        {{u"NVIDIA GeForce GTX 1080", u"AMD Radeon", u"NVIDIA", u"NVIDIA"}, 2},
        {{}, std::nullopt},
        {{u"NVIDIA GeForce RTX 3080", u"NVIDIA ", u"Nvidia", u"nVIDIA", u"NVIDI", u"", u" NVIDIA",
          u"Microsoft Basic Render Driver"},
         std::nullopt},
    };
    for (const auto& c : cases) {
        std::vector<AdapterDescription> descriptions;
        for (const std::u16string& text : c.adapters) descriptions.push_back(Describe(text));
        EXPECT_EQ(ChooseAdapter(descriptions), c.chosen) << "case " << &c - cases;
    }
}

#if defined(_WIN32)

using namespace quillo::gpu::d3d11;
using ::testing::_, ::testing::AllOf, ::testing::ElementsAre, ::testing::HasSubstr;

std::vector<std::string> g_logLines;
void CollectLogLine(const char* line) {
    g_logLines.push_back(line);
}

// An adapter that only describes itself.
class FakeAdapter final : public IDXGIAdapter {
  public:
    explicit FakeAdapter(const wchar_t* description) {
        wcsncpy(desc_.Description, description, 127);
    }
    // Only reference counting and GetDesc are used; the rest answers that it is not there.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, UINT, const void*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID, const IUnknown*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, UINT*, void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetParent(REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumOutputs(UINT, IDXGIOutput**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDesc(DXGI_ADAPTER_DESC* desc) override {
        *desc = desc_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckInterfaceSupport(REFGUID, LARGE_INTEGER*) override {
        return E_NOTIMPL;
    }

  private:
    ~FakeAdapter() = default;
    DXGI_ADAPTER_DESC desc_ = {};
    ULONG references_ = 1;
};

std::vector<ComPtr<IDXGIAdapter>> Adapters(std::initializer_list<const wchar_t*> descriptions) {
    std::vector<ComPtr<IDXGIAdapter>> adapters;
    for (const wchar_t* description : descriptions) {
        ComPtr<IDXGIAdapter> adapter;
        adapter.Attach(new FakeAdapter(description));  // takes over the reference new made
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

// What one D3D11CreateDevice call was given: the adapter, the driver type, and whether the
// other arguments were the fixed ones (no software module, no flags, the default feature
// levels, SDK version 7, no feature level asked back).
struct CreateCall {
    IDXGIAdapter* adapter;
    D3D_DRIVER_TYPE driverType;
    bool fixedArguments;
};
std::vector<CreateCall> g_calls;
bool g_failWithAdapter = false;  // calls that name an adapter fail
bool g_failAlways = false;

// Records the call; succeeds by making a real device on the default adapter (the fake
// adapters cannot carry one).
HRESULT WINAPI RecordingCreateDevice(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType,
                                     HMODULE software, UINT flags,
                                     const D3D_FEATURE_LEVEL* featureLevels, UINT featureLevelCount,
                                     UINT sdkVersion, ID3D11Device** device,
                                     D3D_FEATURE_LEVEL* featureLevel,
                                     ID3D11DeviceContext** context) {
    g_calls.push_back({adapter, driverType,
                       software == nullptr && flags == 0 && featureLevels == nullptr &&
                           featureLevelCount == 0 && sdkVersion == 7 && featureLevel == nullptr});
    if (g_failAlways || (g_failWithAdapter && adapter != nullptr)) return E_INVALIDARG;
    return D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                             D3D11_SDK_VERSION, device, featureLevel, context);
}

class DeviceCreation : public ::testing::Test {
  protected:
    void SetUp() override {
        // Without a real device there is nothing to hand out on success (a raw probe: the
        // backend's own device creation is under test).
        DeviceObjects probe;
        if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                     D3D11_SDK_VERSION, probe.device.ReleaseAndGetAddressOf(),
                                     nullptr, probe.context.ReleaseAndGetAddressOf()))) {
            GTEST_SKIP() << "no Direct3D 11 device on this system";
        }
        g_calls.clear();
        g_logLines.clear();
        g_failWithAdapter = g_failAlways = false;
        quillo::platform::SetLogSink(CollectLogLine);
    }
    void TearDown() override { quillo::platform::SetLogSink(nullptr); }
};

TEST_F(DeviceCreation, TheExactNvidiaAdapterGetsDriverTypeUnknownOtherwiseTheDefaultHardware) {
    const struct {
        std::initializer_list<const wchar_t*> adapters;
        int chosen;  // -1: the default adapter
    } cases[] = {{{L"Intel(R) UHD Graphics 630", L"NVIDIA", L"NVIDIA"}, 1},
                 {{L"NVIDIA GeForce RTX 3080", L"nvidia"}, -1},
                 {{}, -1}};
    for (const auto& c : cases) {
        g_calls.clear();
        auto adapters = Adapters(c.adapters);
        DeviceObjects objects;
        ASSERT_TRUE(CreateDeviceAndContext(adapters, RecordingCreateDevice, objects));
        EXPECT_TRUE(objects.device && objects.context);
        ASSERT_EQ(g_calls.size(), 1u);
        EXPECT_EQ(g_calls[0].adapter, c.chosen < 0 ? nullptr : adapters[c.chosen].Get());
        EXPECT_EQ(g_calls[0].driverType,
                  c.chosen < 0 ? D3D_DRIVER_TYPE_HARDWARE : D3D_DRIVER_TYPE_UNKNOWN);
        EXPECT_TRUE(g_calls[0].fixedArguments);
    }
    EXPECT_TRUE(g_logLines.empty());
}

TEST_F(DeviceCreation, FailureOnTheChosenAdapterFallsBackToTheDefaultAdapterAndSaysSo) {
    g_failWithAdapter = true;
    auto adapters = Adapters({L"NVIDIA"});
    DeviceObjects objects;
    ASSERT_TRUE(CreateDeviceAndContext(adapters, RecordingCreateDevice, objects));
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].adapter, adapters[0].Get());
    EXPECT_EQ(g_calls[1].adapter, nullptr);
    EXPECT_EQ(g_calls[1].driverType, D3D_DRIVER_TYPE_HARDWARE);
    EXPECT_TRUE(g_calls[1].fixedArguments);
    EXPECT_TRUE(objects.device && objects.context);
    EXPECT_THAT(g_logLines, ElementsAre(AllOf(HasSubstr("using the default adapter"),
                                              HasSubstr("0x80070057"))));

    // No device at all is reported and leaves nothing behind.
    g_failAlways = true;
    g_logLines.clear();
    DeviceObjects none;
    EXPECT_FALSE(CreateDeviceAndContext(adapters, RecordingCreateDevice, none));
    EXPECT_EQ(g_calls.size(), 4u);
    EXPECT_FALSE(none.device || none.context);
    EXPECT_THAT(g_logLines, ElementsAre(_, HasSubstr("default adapter failed")));
}

TEST_F(DeviceCreation, RealAdaptersAndTheCommittedShadersWork) {
    // The system lists at least the adapter the default device runs on.
    EXPECT_FALSE(EnumerateAdapters().empty());
    DeviceObjects objects;
    ASSERT_TRUE(CreateDeviceAndContext(EnumerateAdapters(), D3D11CreateDevice, objects));
    EXPECT_GE(objects.device->GetFeatureLevel(), D3D_FEATURE_LEVEL_10_0);
    ASSERT_TRUE(LoadShaders(objects));
    EXPECT_TRUE(objects.vertexShader && objects.pixelShader);

    std::unique_ptr<Device> device = CreateD3D11Device();
    ASSERT_TRUE(device);
    EXPECT_STREQ(device->BackendName(), "d3d11");
}

#endif  // _WIN32

}  // namespace
}  // namespace quillo::test
