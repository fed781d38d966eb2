// The C shapes that cross the library's boundary: its records and the
// signatures of its functions and callbacks.
//
// Every function and callback is declared Winapi: stdcall in a 32-bit Windows
// process, which is how the 32-bit DLL exports them, and the platform's one
// convention everywhere else (64-bit Windows, Linux). A process can only load
// a library of its own width, so the choice needs nothing more.
using System;
using System.Runtime.InteropServices;

namespace Juxhid.Interop
{
    /// <summary>One row EnumerateJUX writes: 16 bytes, no padding, in every process width.</summary>
    [StructLayout(LayoutKind.Sequential)]
    internal struct DeviceSummary
    {
        public uint ProductID;
        public uint Usage;
        public uint UsagePage;
        public int Index;
    }

    /// <summary>A simulated device: six 32-bit fields, then a pointer-sized path
    /// (24 + 4 bytes in a 32-bit process, 24 + 8 in a 64-bit one).</summary>
    [StructLayout(LayoutKind.Sequential)]
    internal struct JuxsimDeviceInfo
    {
        public uint VendorId;
        public uint ProductId;
        public uint UsagePage;
        public uint Usage;
        public uint InputReportLength;
        public uint OutputReportLength;
        public IntPtr Path;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct JuxsimFault
    {
        public int Call;
        public int Thread;
        public int Device;
        public int Skip;
        public int Count;
        public uint Error;
        public uint ShortCount;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct JuxsimCounts
    {
        public int DeviceLists;
        public int Handles;
        public int Preparsed;
        public int Locks;
        public int Signals;
        public int Threads;
        public int Timers;
        public int Allocations;
        public int MessageBoxes;
    }

    // int32_t f(uint8_t *report) and int32_t f(intptr_t status).
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int NativeDataCallback(IntPtr report);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int NativeErrorCallback(IntPtr status);

    // The thirteen functions.
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int EnumerateJUXFn(uint vendorId, [In, Out] DeviceSummary[] devices, out int count);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int IndexFn(int index);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate void CloseFn(int index);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int BufferFn(int index, [In, Out] byte[] buffer);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SetDataCallbackFn(int index, uint mode, NativeDataCallback callback);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SetErrorCallbackFn(int index, NativeErrorCallback callback);

    // The simulated bus's functions.
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SimAttachFn(ref JuxsimDeviceInfo info);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SimDeviceFn(int device);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SimDeliverFn(int device, [In] byte[] report, uint length);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SimTakeOutputFn(int device, [Out] byte[] buffer, uint capacity, out uint length,
                                          out ulong timestampNs);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SimSetWriteDelayFn(int device, uint ms);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate ulong SimNowFn();
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SimFaultArmFn(ref JuxsimFault fault);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate void SimVoidFn();
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate void SimCountsFn(out JuxsimCounts counts);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate void SimLastMessageBoxFn([Out] byte[] text, uint textCapacity, [Out] byte[] caption,
                                               uint captionCapacity);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate IntPtr SimReplayStartFn([MarshalAs(UnmanagedType.LPStr)] string path, double speed);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SimReplayErrorFn([Out] byte[] text, uint capacity);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SimReplayFn(IntPtr replay);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate int SimReplayWaitFn(IntPtr replay, uint ms);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate void SimReplayVoidFn(IntPtr replay);
}
