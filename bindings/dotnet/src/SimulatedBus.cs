// The simulated HID bus of the simulated-bus library: attach devices, deliver
// their input reports, take what the library wrote to them, unplug them,
// replay recorded devices, and make platform calls fail on purpose.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;
using Juxhid.Interop;

namespace Juxhid
{
    /// <summary>One output report as it reached a simulated device, and when.</summary>
    public sealed class SimOutput
    {
        public byte[] Data { get; }
        /// <summary>On the clock of SimulatedBus.NowNs.</summary>
        public ulong TimestampNs { get; }

        internal SimOutput(byte[] data, ulong timestampNs)
        {
            Data = data;
            TimestampNs = timestampNs;
        }
    }

    /// <summary>What the library holds of the platform, by kind.</summary>
    public sealed class SimCounts
    {
        public int DeviceLists { get; }
        public int Handles { get; }
        public int Preparsed { get; }
        public int Locks { get; }
        public int Signals { get; }
        public int Threads { get; }
        public int Timers { get; }
        public int Allocations { get; }
        public int MessageBoxes { get; }

        internal SimCounts(JuxsimCounts counts)
        {
            DeviceLists = counts.DeviceLists;
            Handles = counts.Handles;
            Preparsed = counts.Preparsed;
            Locks = counts.Locks;
            Signals = counts.Signals;
            Threads = counts.Threads;
            Timers = counts.Timers;
            Allocations = counts.Allocations;
            MessageBoxes = counts.MessageBoxes;
        }

        /// <summary>Whether the library holds the same platform objects in both (the
        /// message-box tally aside).</summary>
        public bool HoldsSameAs(SimCounts other)
        {
            return DeviceLists == other.DeviceLists && Handles == other.Handles && Preparsed == other.Preparsed &&
                   Locks == other.Locks && Signals == other.Signals && Threads == other.Threads &&
                   Timers == other.Timers && Allocations == other.Allocations;
        }

        public override string ToString()
        {
            return string.Format("SimCounts(DeviceLists={0}, Handles={1}, Preparsed={2}, Locks={3}, Signals={4}, " +
                                 "Threads={5}, Timers={6}, Allocations={7}, MessageBoxes={8})", DeviceLists, Handles,
                                 Preparsed, Locks, Signals, Threads, Timers, Allocations, MessageBoxes);
        }
    }

    /// <summary>The bus of a loaded simulated-bus library (Library.Sim).</summary>
    public sealed class SimulatedBus
    {
        /// <summary>SetWriteDelay's "block until cancelled or unplugged".</summary>
        public const uint WriteStall = 0xFFFFFFFFu;

        const int OutputCapacity = 65536;  // any 16-bit report length
        readonly SimFunctions bus;

        internal SimulatedBus(SimFunctions bus)
        {
            this.bus = bus;
        }

        static int Known(int result, int device)
        {
            if (result < 0) throw new ArgumentException("no simulated device " + device, "device");
            return result;
        }

        /// <summary>Puts a device at the end of the bus's list; returns its id.</summary>
        public int Attach(int vendorId, int productId, int usagePage = 0xFF00, int usage = 1,
                          int inputLength = 0, int outputLength = 0, string path = null)
        {
            var info = new JuxsimDeviceInfo
            {
                VendorId = (uint)vendorId, ProductId = (uint)productId, UsagePage = (uint)usagePage,
                Usage = (uint)usage, InputReportLength = (uint)inputLength, OutputReportLength = (uint)outputLength,
                Path = path == null ? IntPtr.Zero : Marshal.StringToHGlobalAnsi(path),
            };
            try
            {
                int device = bus.Attach(ref info);
                if (device < 0) throw new ArgumentException("the simulated bus refused the device: an id, usage page " +
                                                            "or usage above 0xFFFF, or a report length above 65535");
                return device;
            }
            finally
            {
                if (info.Path != IntPtr.Zero) Marshal.FreeHGlobal(info.Path);
            }
        }

        /// <summary>Unplugs the device: its pending and later transfers fail.</summary>
        public void Detach(int device)
        {
            Known(bus.Detach(device), device);
        }

        /// <summary>Sends one input report; returns how many read handles it reached.</summary>
        public int Deliver(int device, byte[] report)
        {
            if (report == null) throw new ArgumentNullException("report");
            return Known(bus.Deliver(device, report, (uint)report.Length), device);
        }

        /// <summary>The oldest output report written to the device and not taken yet, or null.</summary>
        public SimOutput TakeOutput(int device)
        {
            var buffer = new byte[OutputCapacity];
            uint length;
            ulong stamp;
            if (Known(bus.TakeOutput(device, buffer, OutputCapacity, out length, out stamp), device) == 0) return null;
            Array.Resize(ref buffer, (int)Math.Min(length, OutputCapacity));
            return new SimOutput(buffer, stamp);
        }

        /// <summary>Takes every output report the device holds, oldest first.</summary>
        public IReadOnlyList<SimOutput> Outputs(int device)
        {
            var taken = new List<SimOutput>();
            for (SimOutput output; (output = TakeOutput(device)) != null;) taken.Add(output);
            return taken;
        }

        /// <summary>How many output reports the device holds, not taken yet.</summary>
        public int OutputCount(int device)
        {
            return Known(bus.OutputCount(device), device);
        }

        /// <summary>Makes each later write to the device take <paramref name="ms"/> milliseconds
        /// (WriteStall: until the library cancels it or the device is unplugged).</summary>
        public void SetWriteDelay(int device, uint ms)
        {
            Known(bus.SetWriteDelay(device, ms), device);
        }

        /// <summary>The bus's clock, in nanoseconds, that output timestamps use.</summary>
        public ulong NowNs()
        {
            return bus.NowNs();
        }

        /// <summary>Makes matching platform calls fail; returns the fault's id.</summary>
        public int ArmFault(SimCall call, uint error = 0, SimThread thread = SimThread.Any, int device = 0,
                            int skip = 0, int count = 1, uint shortCount = 0)
        {
            var fault = new JuxsimFault
            {
                Call = (int)call, Thread = (int)thread, Device = device, Skip = skip, Count = count,
                Error = error, ShortCount = shortCount,
            };
            int id = bus.FaultArm(ref fault);
            if (id < 0) throw new ArgumentException("the simulated bus refused the fault on " + call);
            return id;
        }

        /// <summary>How often the fault has made a call fail so far.</summary>
        public int FaultFired(int fault)
        {
            int fired = bus.FaultFired(fault);
            if (fired < 0) throw new ArgumentException("no fault " + fault, "fault");
            return fired;
        }

        /// <summary>Disarms every fault.</summary>
        public void ClearFaults()
        {
            bus.FaultClear();
        }

        /// <summary>What the library holds of the platform right now.</summary>
        public SimCounts Counts()
        {
            JuxsimCounts counts;
            bus.Counts(out counts);
            return new SimCounts(counts);
        }

        /// <summary>The text and caption of the last message box the library showed.</summary>
        public string LastMessageBox(out string caption)
        {
            byte[] text = new byte[512], title = new byte[512];
            bus.LastMessageBox(text, 512, title, 512);
            caption = CString(title);
            return CString(text);
        }

        /// <summary>Attaches the device a recording (juxhid monitor --record) describes and plays
        /// its reports back once the library opens it: at the recorded times divided by
        /// <paramref name="speed"/>, or with speed 0 each as soon as the device's read handles
        /// have room. Throws ReplayException (with the line at fault) for a file the bus refuses;
        /// then nothing was attached.</summary>
        public Replay Replay(string path, double speed = 1.0)
        {
            if (path == null) throw new ArgumentNullException("path");
            IntPtr handle = bus.ReplayStart(path, speed);
            if (handle == IntPtr.Zero)
            {
                var why = new byte[256];
                int line = bus.ReplayError(why, 256);
                throw new ReplayException(path + ": " + CString(why), line);
            }
            return new Replay(bus, handle);
        }

        /// <summary>Detaches every device, disarms every fault, forgets outputs.</summary>
        public void Reset()
        {
            bus.Reset();
        }

        internal static string CString(byte[] bytes)
        {
            int end = Array.IndexOf(bytes, (byte)0);
            return Encoding.UTF8.GetString(bytes, 0, end < 0 ? bytes.Length : end);
        }
    }
}
