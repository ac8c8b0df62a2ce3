/*
 * Calls the driver exactly as a runtime built with MSVC does: through the vtables, with plain
 * C function pointers, `this` as the first argument and, for the methods that return a
 * structure, the caller's result pointer as the second argument (RCX = this, RDX = result,
 * the result pointer coming back in RAX). The runtime's side (driver context, server driver
 * host, settings, properties, driver log) is written here in C as well, as vtables of function
 * pointers. Windows build only: the System V ABI of a native build has no such convention.
 *
 * Usage: c_abi_test <driver library> <stand-in named Quillo.exe>
 */
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <windows.h>

/* ---- checking ------------------------------------------------------------------------- */

static int g_failures = 0;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "c_abi_test.c:%d: check failed: %s\n", __LINE__, #cond); \
            ++g_failures;                                                            \
        }                                                                            \
    } while (0)

/* ---- the ABI's records ---------------------------------------------------------------- */

#pragma pack(push, 8)
typedef struct {
    double w, x, y, z;
} Quaternion;

typedef struct {
    double poseTimeOffset;
    Quaternion qWorldFromDriverRotation;
    double vecWorldFromDriverTranslation[3];
    Quaternion qDriverFromHeadRotation;
    double vecDriverFromHeadTranslation[3];
    double vecPosition[3];
    double vecVelocity[3];
    double vecAcceleration[3];
    Quaternion qRotation;
    double vecAngularVelocity[3];
    double vecAngularAcceleration[3];
    int32_t result;
    bool poseIsValid;
    bool willDriftInYaw;
    bool shouldApplyHeadModel;
    bool deviceIsConnected;
} DriverPose;

typedef struct {
    float rfRed[2];
    float rfGreen[2];
    float rfBlue[2];
} DistortionCoordinates;

typedef struct {
    int32_t prop;
    int32_t writeType;
    int32_t eSetError;
    void* pvBuffer;
    uint32_t unBufferSize;
    uint32_t unTag;
    int32_t eError;
} PropertyWrite;
#pragma pack(pop)

_Static_assert(sizeof(DriverPose) == 280, "DriverPose_t size");
_Static_assert(offsetof(DriverPose, qRotation) == 192, "qRotation");
_Static_assert(offsetof(DriverPose, result) == 272, "result");
_Static_assert(offsetof(DriverPose, deviceIsConnected) == 279, "deviceIsConnected");
_Static_assert(sizeof(DistortionCoordinates) == 24, "DistortionCoordinates_t size");
_Static_assert(sizeof(PropertyWrite) == 40, "PropertyWrite_t size");
_Static_assert(offsetof(PropertyWrite, pvBuffer) == 16, "pvBuffer");

/* ---- the driver's interfaces, slot by slot ------------------------------------------ */

typedef struct ProviderVtbl {
    int32_t (*Init)(void* self, void* driverContext);
    void (*Cleanup)(void* self);
    const char* const* (*GetInterfaceVersions)(void* self);
    void (*RunFrame)(void* self);
    bool (*ShouldBlockStandbyMode)(void* self);
    void (*EnterStandby)(void* self);
    void (*LeaveStandby)(void* self);
} ProviderVtbl;

typedef struct DeviceVtbl {
    int32_t (*Activate)(void* self, uint32_t objectId);
    void* deactivateAndEnterStandby[2];
    void* (*GetComponent)(void* self, const char* name);
    void (*DebugRequest)(void* self, const char* request, char* buffer, uint32_t size);
    DriverPose* (*GetPose)(void* self, DriverPose* result);
} DeviceVtbl;

typedef struct DisplayVtbl {
    void (*GetWindowBounds)(void* self, int32_t* x, int32_t* y, uint32_t* width, uint32_t* height);
    bool (*IsDisplayOnDesktop)(void* self);
    bool (*IsDisplayRealDisplay)(void* self);
    void (*GetRecommendedRenderTargetSize)(void* self, uint32_t* width, uint32_t* height);
    void (*GetEyeOutputViewport)(void* self, int32_t eye, uint32_t* x, uint32_t* y, uint32_t* width,
                                 uint32_t* height);
    void (*GetProjectionRaw)(void* self, int32_t eye, float* left, float* right, float* top,
                             float* bottom);
    DistortionCoordinates* (*ComputeDistortion)(void* self, DistortionCoordinates* result,
                                                int32_t eye, float u, float v);
} DisplayVtbl;

typedef struct VirtualDisplayVtbl {
    void* presentAndWaitForPresent[2];
    bool (*GetTimeSinceLastVsync)(void* self, float* seconds, uint64_t* frameCounter);
} VirtualDisplayVtbl;

/* Every C++ object starts with its vtable pointer. */
#define VTBL(type, object) (*(const type* const*)(object))

/* ---- the runtime's side, in C --------------------------------------------------------- */

#define MAX_DEVICES 8

typedef struct {
    char serial[64];
    int32_t deviceClass;
    void* driver;
    int poses;
    DriverPose lastPose;
    int32_t deviceClassProperty;
} DeviceSlot;

static DeviceSlot g_devices[MAX_DEVICES];
static int g_deviceCount = 0;
static int g_logLines = 0;
static int g_proximityReports = 0;

/* IVRDriverLog_001 */
typedef struct {
    void (*Log)(void* self, const char* message);
} LogVtbl;
static void Log_Log(void* self, const char* message) {
    ++g_logLines;
    printf("driver log: %s", message);
}
static const LogVtbl g_logVtbl = {Log_Log};
static struct { const LogVtbl* vtbl; } g_log = {&g_logVtbl};

/* IVRServerDriverHost_004: only the slots the driver calls are typed, and the tables end at the
 * last of them (here and below); a call into an empty slot ends the test at once. */
typedef struct {
    bool (*TrackedDeviceAdded)(void* self, const char* serial, int32_t deviceClass, void* driver);
    void (*TrackedDevicePoseUpdated)(void* self, uint32_t device, const DriverPose* pose,
                                     uint32_t size);
    void* vsyncToAxisUpdated[6];
    void (*ProximitySensorState)(void* self, uint32_t device, bool triggered);
} HostVtbl;

static bool Host_TrackedDeviceAdded(void* self, const char* serial, int32_t deviceClass,
                                    void* driver) {
    if (g_deviceCount >= MAX_DEVICES || serial == NULL || driver == NULL) return false;
    DeviceSlot* slot = &g_devices[g_deviceCount++];
    snprintf(slot->serial, sizeof(slot->serial), "%s", serial);
    slot->deviceClass = deviceClass;
    slot->driver = driver;
    return true;
}
static void Host_TrackedDevicePoseUpdated(void* self, uint32_t device, const DriverPose* pose,
                                          uint32_t size) {
    CHECK(size == sizeof(DriverPose));
    if (device < (uint32_t)g_deviceCount) {
        g_devices[device].lastPose = *pose;
        ++g_devices[device].poses;
    }
}
static void Host_ProximitySensorState(void* self, uint32_t device, bool triggered) {
    CHECK(triggered);
    ++g_proximityReports;
}
static const HostVtbl g_hostVtbl = {
    Host_TrackedDeviceAdded, Host_TrackedDevicePoseUpdated, {NULL}, Host_ProximitySensorState};
static struct { const HostVtbl* vtbl; } g_host = {&g_hostVtbl};

/* IVRSettings_002: only "driver_quillo"/"windowWidth" is set (2000); every other key is unset,
 * so the driver falls back to its own defaults (and the height to its minimum, 600). */
typedef struct {
    void* errorNameToSetString[6];
    bool (*GetBool)(void* self, const char* section, const char* key, int32_t* error);
    int32_t (*GetInt32)(void* self, const char* section, const char* key, int32_t* error);
} SettingsVtbl;

enum { kSettingsNone = 0, kSettingsUnset = 5 };

static bool Settings_GetBool(void* self, const char* section, const char* key, int32_t* error) {
    if (error != NULL) *error = kSettingsUnset;
    return false;
}
static int32_t Settings_GetInt32(void* self, const char* section, const char* key, int32_t* error) {
    const bool set = strcmp(section, "driver_quillo") == 0 && strcmp(key, "windowWidth") == 0;
    if (error != NULL) *error = set ? kSettingsNone : kSettingsUnset;
    return set ? 2000 : 0;
}
static const SettingsVtbl g_settingsVtbl = {{NULL}, Settings_GetBool, Settings_GetInt32};
static struct { const SettingsVtbl* vtbl; } g_settings = {&g_settingsVtbl};

/* IVRProperties_001: container = 100 + object id. */
typedef struct {
    void* readPropertyBatch;
    int32_t (*WritePropertyBatch)(void* self, uint64_t container, PropertyWrite* batch,
                                  uint32_t count);
    void* getPropErrorNameFromEnum;
    uint64_t (*TrackedDeviceToPropertyContainer)(void* self, uint32_t device);
} PropertiesVtbl;

static int32_t Properties_Write(void* self, uint64_t container, PropertyWrite* batch,
                                uint32_t count) {
    /* The driver writes one property per batch. */
    CHECK(count == 1 && container >= 100 && container < 100 + MAX_DEVICES);
    if (count != 1 || container < 100 || container >= 100 + MAX_DEVICES) return 0;
    if (batch->prop == 1029) { /* Prop_DeviceClass_Int32 */
        CHECK(batch->unTag == 2 && batch->unBufferSize == 4);
        memcpy(&g_devices[container - 100].deviceClassProperty, batch->pvBuffer, 4);
    }
    return 0;
}
static uint64_t Properties_Container(void* self, uint32_t device) {
    return 100u + device;
}
static const PropertiesVtbl g_propertiesVtbl = {NULL, Properties_Write, NULL, Properties_Container};
static struct { const PropertiesVtbl* vtbl; } g_properties = {&g_propertiesVtbl};

/* IVRDriverContext */
typedef struct {
    void* (*GetGenericInterface)(void* self, const char* version, int32_t* error);
    void* getDriverHandle;
} ContextVtbl;

static void* Context_GetGenericInterface(void* self, const char* version, int32_t* error) {
    void* found = NULL;
    if (strcmp(version, "IVRServerDriverHost_004") == 0) found = &g_host;
    if (strcmp(version, "IVRSettings_002") == 0) found = &g_settings;
    if (strcmp(version, "IVRProperties_001") == 0) found = &g_properties;
    if (strcmp(version, "IVRDriverLog_001") == 0) found = &g_log;
    if (error != NULL) *error = found != NULL ? 0 : 105;
    return found;
}
static const ContextVtbl g_contextVtbl = {Context_GetGenericInterface, NULL};
static struct { const ContextVtbl* vtbl; } g_context = {&g_contextVtbl};

/* ---- the stand-in companion and the library ------------------------------------------- */

/* A Unix path handed to a Windows program under Wine names the Z: drive. */
static void WindowsPath(const char* path, char* out, size_t size) {
    snprintf(out, size, "%s%s", path[0] == '/' ? "Z:" : "", path);
}

static HANDLE StartStandin(const char* path) {
    char windowsPath[1024];
    WindowsPath(path, windowsPath, sizeof(windowsPath));
    char commandLine[1100];
    snprintf(commandLine, sizeof(commandLine), "\"%s\" 120", windowsPath);
    STARTUPINFOA startup = {.cb = sizeof(startup)};
    PROCESS_INFORMATION info;
    if (!CreateProcessA(windowsPath, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &info)) {
        fprintf(stderr, "cannot start %s (error %lu)\n", windowsPath, GetLastError());
        return NULL;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

/* ---- the calls ------------------------------------------------------------------------ */

/* A result slot with a guard word on both sides (both records are whole words long): a callee
 * that writes the result through the wrong register, or returns it in RAX, leaves the slot
 * unwritten or a guard broken. */
static const uint64_t kGuard = 0xC0FFEE00DEADBEEFull;
static uint64_t g_slot[1 + sizeof(DriverPose) / 8 + 1];

static void* GuardedSlot(size_t size) {
    memset(g_slot, 0xCD, sizeof(g_slot));
    g_slot[0] = g_slot[1 + size / 8] = kGuard;
    return &g_slot[1];
}
static void CheckGuardedSlot(const void* returned, size_t size) {
    CHECK(returned == &g_slot[1]);
    CHECK(g_slot[0] == kGuard && g_slot[1 + size / 8] == kGuard);
}

static const DriverPose* CallGetPose(void* device) {
    DriverPose* slot = GuardedSlot(sizeof(DriverPose));
    CheckGuardedSlot(VTBL(DeviceVtbl, device)->GetPose(device, slot), sizeof(DriverPose));
    return slot;
}

static void CheckHeadset(void* hmd) {
    const DeviceVtbl* device = VTBL(DeviceVtbl, hmd);
    CHECK(device->GetComponent(hmd, "ITrackedDeviceServerDriver_005") == hmd);

    void* display = device->GetComponent(hmd, "IVRDisplayComponent_002");
    CHECK(display != NULL && display != hmd);
    if (display != NULL) {
        const DisplayVtbl* d = VTBL(DisplayVtbl, display);
        int32_t x = 0, y = 0;
        uint32_t width = 0, height = 0, vx = 0, vy = 0, vw = 0, vh = 0;
        d->GetWindowBounds(display, &x, &y, &width, &height);
        CHECK(x == -1 && y == -1 && width == 2000 && height == 600);
        CHECK(!d->IsDisplayOnDesktop(display) && !d->IsDisplayRealDisplay(display));
        d->GetRecommendedRenderTargetSize(display, &width, &height);
        CHECK(width == 1000 && height == 600);
        d->GetEyeOutputViewport(display, 1, &vx, &vy, &vw, &vh);
        CHECK(vx == 1000 && vy == 0 && vw == 1000 && vh == 600);
        float left = 0, right = 0, top = 0, bottom = 0;
        d->GetProjectionRaw(display, 0, &left, &right, &top, &bottom);
        /* The values are the headset tests' business; here: the slot and the argument order. */
        CHECK(left < 0 && right > 0 && -left != right && top < 0 && top == -bottom);
        DistortionCoordinates* c = GuardedSlot(sizeof(DistortionCoordinates));
        CheckGuardedSlot(d->ComputeDistortion(display, c, 1, 0.25f, 0.625f), sizeof(*c));
        CHECK(c->rfRed[0] == 0.25f && c->rfRed[1] == 0.625f);
        CHECK(c->rfGreen[0] == 0.25f && c->rfGreen[1] == 0.625f);
        CHECK(c->rfBlue[0] == 0.25f && c->rfBlue[1] == 0.625f);
    }

    void* virtualDisplay = device->GetComponent(hmd, "IVRVirtualDisplay_001");
    CHECK(virtualDisplay != NULL);
    if (virtualDisplay != NULL) {
        float seconds = 0.0f;
        uint64_t counter = 77;
        CHECK(VTBL(VirtualDisplayVtbl, virtualDisplay)
                  ->GetTimeSinceLastVsync(virtualDisplay, &seconds, &counter));
        CHECK(seconds == 0.016f && counter == 0);
    }

    char response[8] = "xyz";
    device->DebugRequest(hmd, "status", response, sizeof(response));
    CHECK(response[0] == '\0');
}

/* Fields on both sides of the record, so that a layout off by any amount shows. */
static void CheckPose(const DriverPose* pose, double y, double z, double headW, bool drifts) {
    CHECK(pose->vecPosition[0] == 0.0 && pose->vecPosition[1] == y && pose->vecPosition[2] == z);
    CHECK(pose->qRotation.w == 1.0 && pose->qRotation.x == 0.0 && pose->qRotation.z == 0.0);
    CHECK(pose->qDriverFromHeadRotation.w == headW);
    CHECK(pose->result == 200 && pose->poseIsValid && pose->deviceIsConnected);
    CHECK(pose->willDriftInYaw == drifts && !pose->shouldApplyHeadModel);
}
#define CheckRestingHeadsetPose(pose) CheckPose(pose, (double)1.7f, 0.0, 1.0, true)
#define CheckTrackingReferencePose(pose) CheckPose(pose, 0.0, 3.0, 0.0, false)

/* Init, both devices through their vtables, frames, standby and Cleanup. */
static void CheckProvider(void* provider) {
    const ProviderVtbl* p = VTBL(ProviderVtbl, provider);
    const char* const* versions = p->GetInterfaceVersions(provider);
    /* The list itself is the provider tests' business; here: it comes through the vtable. */
    int listsProvider = 0;
    for (int i = 0; versions[i] != NULL; ++i) {
        listsProvider |= strcmp(versions[i], "IServerTrackedDeviceProvider_004") == 0;
    }
    CHECK(listsProvider);

    CHECK(p->Init(provider, &g_context) == 0);
    CHECK(g_deviceCount == 2 && strcmp(g_devices[0].serial, "serialNumber") == 0 &&
          strcmp(g_devices[1].serial, "0.1113") == 0);
    if (g_deviceCount == 2) {
        void* hmd = g_devices[0].driver;
        void* sensor = g_devices[1].driver;
        CHECK(g_devices[0].deviceClass == 1 && g_devices[1].deviceClass == 4);

        /* Before activation: the poses the devices hold already. */
        CheckRestingHeadsetPose(CallGetPose(hmd));
        CheckTrackingReferencePose(CallGetPose(sensor));

        CHECK(VTBL(DeviceVtbl, hmd)->Activate(hmd, 0) == 0);
        CHECK(VTBL(DeviceVtbl, sensor)->Activate(sensor, 1) == 0);
        /* The values are the device tests' business; here: the buffer, size and tag arrive. */
        CHECK(g_devices[0].deviceClassProperty == 1 && g_devices[1].deviceClassProperty == 4);

        CheckHeadset(hmd);
        CHECK(VTBL(DeviceVtbl, sensor)->GetComponent(sensor, "itrackeddeviceserverdriver_005") ==
              sensor);

        for (int frame = 0; frame < 3; ++frame) p->RunFrame(provider);
        CHECK(g_devices[0].poses == 3 && g_devices[1].poses == 3);
        CheckRestingHeadsetPose(&g_devices[0].lastPose);
        CheckTrackingReferencePose(&g_devices[1].lastPose);
        CheckRestingHeadsetPose(CallGetPose(hmd));

        CHECK(p->ShouldBlockStandbyMode(provider));
        p->EnterStandby(provider);
        p->LeaveStandby(provider);
    }
    CHECK(g_proximityReports >= 4);

    const int logLinesBeforeCleanup = g_logLines;
    p->Cleanup(provider);
    CHECK(g_logLines == logLinesBeforeCleanup);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s <driver library> <stand-in named Quillo.exe>\n", argv[0]);
        return 2;
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    HANDLE companion = StartStandin(argv[2]);
    CHECK(companion != 0);

    char windowsPath[1024];
    WindowsPath(argv[1], windowsPath, sizeof(windowsPath));
    HMODULE library = LoadLibraryA(windowsPath);
    typedef void* (*FactoryFn)(const char*, int*);
    FactoryFn factory =
        library != NULL ? (FactoryFn)(void*)GetProcAddress(library, "HmdDriverFactory") : NULL;
    CHECK(factory != NULL);
    if (factory != NULL) {
        /* The name must match exactly, letter case and version included. */
        const char* const wrong[] = {NULL, "IVRWatchdogProvider_001",
                                     "iservertrackeddeviceprovider_004",
                                     "IServerTrackedDeviceProvider_003"};
        int code = 1234;
        for (int i = 0; i < 4; ++i, code = 1234) {
            CHECK(factory(wrong[i], &code) == NULL && code == 105);
            CHECK(factory(wrong[i], NULL) == NULL);
        }
        void* provider = factory("IServerTrackedDeviceProvider_004", &code);
        CHECK(provider != NULL && code == 1234);
        CHECK(factory("IServerTrackedDeviceProvider_004", NULL) == provider);
        if (provider != NULL) CheckProvider(provider);
    }
    if (library != NULL) FreeLibrary(library);
    if (companion != NULL) {
        TerminateProcess(companion, 0);
        WaitForSingleObject(companion, 10000);
        CloseHandle(companion);
    }

    if (g_failures != 0) {
        fprintf(stderr, "%d check(s) failed\n", g_failures);
        return 1;
    }
    printf("all vtable calls answered as an MSVC-built runtime expects\n");
    return 0;
}
