// Loading a native library by file name or path, and finding its functions,
// through the operating system's own loader (dlopen, LoadLibrary). The
// binding calls the library through delegates made from these function
// addresses rather than through [DllImport] of a fixed name: that lets one
// process load whichever file the host names (the real-device library, the
// simulated bus, a copy at any path) without a Mono dllmap file or .NET's
// NativeLibrary resolver, neither of which the other runtime has.
using System;
using System.ComponentModel;
using System.Runtime.InteropServices;

namespace Juxhid.Interop
{
    internal static class NativeLoader
    {
        internal static readonly bool IsWindows = RuntimeInformation.IsOSPlatform(OSPlatform.Windows);

        /// <summary>The handle of the loaded library, or IntPtr.Zero with the loader's reason.</summary>
        internal static IntPtr Open(string file, out string error)
        {
            error = null;
            IntPtr handle = IsWindows ? Windows.LoadLibraryW(file) : Unix.Open(file);
            if (handle == IntPtr.Zero)
                error = IsWindows ? WindowsError(Marshal.GetLastWin32Error()) : Unix.LastError();
            return handle;
        }

        /// <summary>The function's address, or IntPtr.Zero when the library does not export it.</summary>
        internal static IntPtr Symbol(IntPtr library, string name)
        {
            return IsWindows ? Windows.GetProcAddress(library, name) : Unix.Symbol(library, name);
        }

        // Error 193 is the one a host meets when its process width and the
        // DLL's differ: say which DLL it needs.
        static string WindowsError(int code)
        {
            string text = new Win32Exception(code).Message;
            if (code == 193)
                text += string.Format(" (this is a {0}-bit process: it needs the {0}-bit juxhid.dll)", IntPtr.Size * 8);
            return text;
        }

        static class Windows
        {
            [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
            internal static extern IntPtr LoadLibraryW(string file);

            [DllImport("kernel32", CharSet = CharSet.Ansi, ExactSpelling = true)]
            internal static extern IntPtr GetProcAddress(IntPtr module, string name);
        }

        // glibc keeps dlopen in libdl.so.2: a stub into libc since 2.34, still
        // present, so the name works on old and new systems alike.
        static class Unix
        {
            const int RtldNow = 2;

            [DllImport("libdl.so.2", EntryPoint = "dlopen")] internal static extern IntPtr Open(string file, int flags);
            [DllImport("libdl.so.2", EntryPoint = "dlsym")] internal static extern IntPtr Symbol(IntPtr library, string name);
            [DllImport("libdl.so.2", EntryPoint = "dlerror")] static extern IntPtr dlerror();

            // The runtime binds a P/Invoke on its first call, with a dlsym of
            // its own that clears the pending error: so dlerror is bound (and
            // any stale error cleared) before the dlopen whose error it reports.
            internal static IntPtr Open(string file)
            {
                dlerror();
                return Open(file, RtldNow);
            }

            internal static string LastError()
            {
                IntPtr text = dlerror();
                return text == IntPtr.Zero ? "the loader gave no reason" : Marshal.PtrToStringAnsi(text);
            }
        }
    }
}
