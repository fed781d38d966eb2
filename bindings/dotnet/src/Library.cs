// The thirteen functions with .NET names, byte arrays for reports, delegates
// for callbacks and JuxhidException for failed statuses.
using System;
using System.Collections.Generic;
using System.Threading;
using Juxhid.Interop;

namespace Juxhid
{
    /// <summary>Receives each input report without its report-ID byte, on the library's
    /// callback thread. Returning false ends delivery for this opening (the error callback
    /// included); true goes on.</summary>
    public delegate bool DataCallback(byte[] payload);

    /// <summary>Receives the status (307) once when the device is gone, on the library's
    /// callback thread.</summary>
    public delegate void ErrorCallback(int status);

    /// <summary>One loaded library. Its state is the process's: two Library objects on the
    /// same file see the same devices and interfaces. Dispose closes every interface this
    /// object opened; the native library itself stays loaded for the life of the process.</summary>
    public sealed class Library : IDisposable
    {
        /// <summary>Most devices listed and interfaces held at once.</summary>
        public const int MaxDevices = 25;

        readonly NativeModule native;
        readonly HashSet<int> opened = new HashSet<int>();  // guarded by itself
        bool disposed;                                      // guarded by opened

        /// <summary>What was loaded: the path or name handed to the loader.</summary>
        public string Path { get; }
        /// <summary>What chose it: "the path passed", "$JUXHID_LIBRARY", ...</summary>
        public string ChosenBy { get; }
        /// <summary>The simulated bus, or null when this is the real-device library.</summary>
        public SimulatedBus Sim { get; }

        /// <summary>Loads <paramref name="path"/>; without one, $JUXHID_LIBRARY ($JUXHID_SIM_LIBRARY
        /// when <paramref name="sim"/> is true); without that, the library beside this assembly, then
        /// the installed name (juxhid.dll, libjuxhid.so.0; juxhid_sim.dll, libjuxhid_sim.so.0) from
        /// the loader's search path. With <paramref name="sim"/> it must be the simulated-bus build.
        /// Throws LibraryLoadException naming everything tried.</summary>
        public Library(string path = null, bool sim = false)
        {
            string loaded, chosenBy;
            native = LibraryLocator.Load(path, sim, out loaded, out chosenBy);
            Path = loaded;
            ChosenBy = chosenBy;
            if (sim && native.Sim == null)
                throw new LibraryLoadException("the simulated-bus library",
                    new[] { string.Format("{0} ({1}): it has no simulated bus", loaded, chosenBy) },
                    string.Format("Name libjuxhid_sim / juxhid_sim.dll with new Library(path, sim: true) or ${0}.",
                                  LibraryLocator.EnvironmentVariable(true)));
            Sim = native.Sim != null ? new SimulatedBus(native.Sim) : null;
        }

        // ---- Listing -----------------------------------------------------------

        /// <summary>The vendor's attached devices in index order; empty when none is. Listing
        /// again closes every interface at the indexes it fills and numbers the devices anew:
        /// close every interface first.</summary>
        public IReadOnlyList<Device> ListDevices(int vendorId)
        {
            Live();
            var rows = new DeviceSummary[MaxDevices];
            int count;
            int status = native.EnumerateJUX((uint)vendorId, rows, out count);
            if (status == (int)StatusCode.ListNoDevice) return new Device[0];
            Check("EnumerateJUX", status);
            var devices = new List<Device>();
            for (int row = 0; row < Math.Min(count, MaxDevices); row++)
            {
                DeviceSummary summary = rows[row];
                Forget(summary.Index);  // the listing closed whatever was open there
                devices.Add(new Device(summary.Index, (int)summary.ProductID, (int)summary.UsagePage,
                                       (int)summary.Usage, ReadLength(summary.Index), WriteLength(summary.Index)));
            }
            return devices;
        }

        /// <summary>Bytes of one input report of a listed device, report-ID byte counted (0: none).</summary>
        public int ReadLength(int index)
        {
            return Length(native.GetReadLength(index), index);
        }

        /// <summary>Bytes of one output report of a listed device, report-ID byte counted (0: none).</summary>
        public int WriteLength(int index)
        {
            return Length(native.GetWriteLength(index), index);
        }

        static int Length(int length, int index)
        {
            if (length < 0) throw new ArgumentOutOfRangeException("index", index, "no listed device has that index");
            return length;
        }

        // ---- Opening and closing -------------------------------------------------

        /// <summary>Opens a listed device. After a failure other than a bad index, what the
        /// opening created stays until CloseInterface (Dispose does it too).</summary>
        public void SetupInterface(int index)
        {
            Live();
            int status = native.SetupInterface(index);
            if (status != (int)StatusCode.OpenBadIndex)
                lock (opened) opened.Add(index);
            Check("SetupInterface", status);
        }

        /// <summary>Closes an interface. Input reports not yet read and output reports still
        /// queued for the pacing ticks are dropped.</summary>
        public void CloseInterface(int index)
        {
            native.CloseInterface(index);
            Forget(index);
        }

        /// <summary>Releases an interface whose device is gone.</summary>
        public void CleanupInterface(int index)
        {
            native.CleanupInterface(index);
            Forget(index);
        }

        /// <summary>SetupInterface for a using block: the interface is closed when the block
        /// ends, and at once when the opening itself failed part way.</summary>
        public OpenedInterface Open(int index)
        {
            try
            {
                SetupInterface(index);
            }
            catch (JuxhidException error) when (error.Code != (int)StatusCode.OpenBadIndex)
            {
                CloseInterface(index);
                throw;
            }
            return new OpenedInterface(this, index);
        }

        void Forget(int index)
        {
            native.Callbacks.Forget(index);
            lock (opened) opened.Remove(index);
        }

        // ---- Polled reads ----------------------------------------------------------

        /// <summary>The oldest unread input report, or null when there is none.</summary>
        public byte[] ReadData(int index)
        {
            return Read("ReadData", native.ReadData, index, StatusCode.ReadEmpty);
        }

        /// <summary>The newest input report, waiting about half a second for a first one;
        /// null when none arrived.</summary>
        public byte[] ReadLast(int index)
        {
            return Read("ReadLast", native.ReadLast, index, StatusCode.LastNoReport);
        }

        /// <summary>Forgets every stored input report.</summary>
        public void ClearBuffer(int index)
        {
            Live();
            Check("ClearBuffer", native.ClearBuffer(index));
        }

        byte[] Read(string function, BufferFn read, int index, StatusCode nothing)
        {
            Live();
            // The library fills exactly the device's report length.
            int length = native.GetReadLength(index);
            var buffer = new byte[Math.Max(length, 1)];
            int status = read(index, buffer);
            if (status == (int)nothing) return null;
            Check(function, status);
            if (buffer.Length != length) Array.Resize(ref buffer, Math.Max(length, 0));
            return buffer;
        }

        // ---- Callbacks ---------------------------------------------------------------

        /// <summary>Calls <paramref name="callback"/> on the library's callback thread with each
        /// newest input report, without its report-ID byte; with <paramref name="changedOnly"/>
        /// only when those bytes changed. Reports that arrive while it runs are merged into the
        /// next call. Null stops delivery. The binding keeps the delegate alive while installed.</summary>
        public void SetDataCallback(int index, DataCallback callback, bool changedOnly = false)
        {
            Live();
            uint mode = callback == null ? 0u : changedOnly ? 2u : 1u;
            if (callback == null || !CallbackHub.Holds(index))
            {
                // No index outside the hub's range is ever open: the library answers for it.
                int cleared = native.SetDataCallback(index, mode, null);
                if (cleared == 0) native.Callbacks.ForgetData(index);
                Check("SetDataCallback", cleared);
                return;
            }
            int payload = Math.Max(native.GetReadLength(index) - 1, 0);
            Check("SetDataCallback", native.Callbacks.InstallData(index, callback, payload,
                thunk => native.SetDataCallback(index, mode, thunk)));
        }

        /// <summary>Calls <paramref name="callback"/> once, with 307, when the device is gone;
        /// null clears it.</summary>
        public void SetErrorCallback(int index, ErrorCallback callback)
        {
            Live();
            if (callback == null || !CallbackHub.Holds(index))
            {
                int cleared = native.SetErrorCallback(index, null);
                if (cleared == 0) native.Callbacks.ForgetError(index);
                Check("SetErrorCallback", cleared);
                return;
            }
            Check("SetErrorCallback", native.Callbacks.InstallError(index, callback,
                thunk => native.SetErrorCallback(index, thunk)));
        }

        // ---- Writes --------------------------------------------------------------------

        /// <summary>Sends one output report, at once or through the paced queue (one report
        /// per device every 50 ms); a shorter report is padded with zeros. A queued write
        /// reports the failure of earlier background writes, if any.</summary>
        public void WriteData(int index, byte[] report)
        {
            Live();
            Check("WriteData", native.WriteData(index, WriteBuffer(index, report)));
        }

        /// <summary>As WriteData, paced every 5 ms.</summary>
        public void FastWrite(int index, byte[] report)
        {
            Live();
            Check("FastWrite", native.FastWrite(index, WriteBuffer(index, report)));
        }

        // The library reads exactly the device's output length: a shorter report
        // is padded, a longer one refused before anything is sent.
        byte[] WriteBuffer(int index, byte[] report)
        {
            if (report == null) throw new ArgumentNullException("report");
            int length = native.GetWriteLength(index);
            if (length > 0 && report.Length > length)
                throw new ArgumentException(string.Format("a report of {0} bytes; index {1} takes {2}",
                                                          report.Length, index, length), "report");
            var buffer = new byte[Math.Max(Math.Max(length, report.Length), 1)];
            Buffer.BlockCopy(report, 0, buffer, 0, report.Length);
            return buffer;
        }

        // ---- Status and lifetime ---------------------------------------------------------

        static void Check(string function, int status)
        {
            if (status != 0) throw new JuxhidException(function, status);
        }

        void Live()
        {
            if (Volatile.Read(ref disposed)) throw new ObjectDisposedException("Library");
        }

        /// <summary>Closes every interface this object opened and has not closed since.</summary>
        public void Dispose()
        {
            int[] indexes;
            lock (opened)
            {
                if (disposed) return;
                disposed = true;
                indexes = new int[opened.Count];
                opened.CopyTo(indexes);
            }
            foreach (int index in indexes) CloseInterface(index);
        }
    }

    /// <summary>An interface opened by Library.Open; Dispose closes it.</summary>
    public sealed class OpenedInterface : IDisposable
    {
        readonly Library library;
        int closed;

        public int Index { get; }

        internal OpenedInterface(Library library, int index)
        {
            this.library = library;
            Index = index;
        }

        public void Dispose()
        {
            if (Interlocked.Exchange(ref closed, 1) == 0) library.CloseInterface(Index);
        }
    }
}
