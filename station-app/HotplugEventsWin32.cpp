#include <windows.h>
// After windows.h, which they build on.
#include <dbt.h>

#include <thread>

#include "station-app/UsbHotplug.h"

namespace kestrel::stationapp {

namespace {

constexpr wchar_t kWindowClass[] = L"KestrelDeviceChanges";
constexpr DWORD kLookAgainMs = 1000;

// Windows tells of devices through WM_DEVICECHANGE, sent to top-level windows:
// a hidden one on a thread of its own takes it (the broadcast of any device
// node change, and the arrival and removal of every device interface), so the
// events need nothing of the front end. The serial-port map, where a port's
// driver enters its COM name, is watched as well: the name may come a moment
// after the device.
class DeviceChangeEvents : public HotplugEvents {
public:
    explicit DeviceChangeEvents(bool watchPortMap) {
        if (watchPortMap && ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_NOTIFY,
                                            &portMap_) != ERROR_SUCCESS) {
            portMap_ = nullptr;
        }
        HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this, ready] { Listen(ready); });
        ::WaitForSingleObject(ready, INFINITE);
        ::CloseHandle(ready);
    }

    ~DeviceChangeEvents() override {
        if (window_ != nullptr) {
            ::PostMessageW(window_, WM_CLOSE, 0, 0);
        }
        thread_.join();
        if (portMap_ != nullptr) {
            ::RegCloseKey(portMap_);
        }
        for (HANDLE event : {changed_, mapChanged_, interrupted_}) {
            ::CloseHandle(event);
        }
    }

    bool WaitForChange() override {
        // The map's notice is asked for on the waiting thread, whose end would end it: a change between two
        // looks is not missed, as the first wait only asks and returns for one more look.
        if (portMap_ != nullptr && !mapArmed_) {
            mapArmed_ = ::RegNotifyChangeKeyValue(portMap_, FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME,
                                                  mapChanged_, TRUE) == ERROR_SUCCESS;
            if (mapArmed_) {
                return ::WaitForSingleObject(interrupted_, 0) != WAIT_OBJECT_0;
            }
        }
        const HANDLE events[] = {interrupted_, changed_, mapChanged_};
        const DWORD count = mapArmed_ ? 3 : 2;
        // A driver may list its device a moment after it told of it: one more look a second after each event.
        const DWORD woken = ::WaitForMultipleObjects(count, events, FALSE, lookAgain_ ? kLookAgainMs : INFINITE);
        if (woken == WAIT_OBJECT_0 + 2) {
            mapArmed_ = false;  // asked again at the next wait
        }
        lookAgain_ = woken == WAIT_OBJECT_0 + 1 || woken == WAIT_OBJECT_0 + 2;
        return lookAgain_ || woken == WAIT_TIMEOUT;
    }

    void Interrupt() override { ::SetEvent(interrupted_); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<DeviceChangeEvents*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        switch (message) {
            case WM_DEVICECHANGE:
                if (self != nullptr) {
                    ::SetEvent(self->changed_);
                }
                return TRUE;
            case WM_CLOSE:
                ::DestroyWindow(window);
                return 0;
            case WM_DESTROY:
                ::PostQuitMessage(0);
                return 0;
            default:
                return ::DefWindowProcW(window, message, wParam, lParam);
        }
    }

    void Listen(HANDLE ready) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        ::RegisterClassExW(&windowClass);  // fails harmlessly once it is registered
        HWND window = ::CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        windowClass.hInstance, nullptr);
        HDEVNOTIFY notify = nullptr;
        if (window != nullptr) {
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            DEV_BROADCAST_DEVICEINTERFACE_W filter{};
            filter.dbcc_size = sizeof filter;
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            notify = ::RegisterDeviceNotificationW(window, &filter,
                                                   DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
        }
        window_ = window;
        ::SetEvent(ready);
        if (window == nullptr) {
            return;
        }
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::DispatchMessageW(&message);
        }
        if (notify != nullptr) {
            ::UnregisterDeviceNotification(notify);
        }
    }

    HKEY portMap_ = nullptr;
    HANDLE changed_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE mapChanged_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE interrupted_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool mapArmed_ = false;  // these two are the waiting thread's alone
    bool lookAgain_ = false;
    HWND window_ = nullptr;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<HotplugEvents> SystemHotplugEvents(std::string& /*error*/) {
    return std::make_unique<DeviceChangeEvents>(false);
}

std::unique_ptr<HotplugEvents> SystemPortEvents() { return std::make_unique<DeviceChangeEvents>(true); }

}  // namespace kestrel::stationapp
