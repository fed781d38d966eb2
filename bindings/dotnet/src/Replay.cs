using System;
using Juxhid.Interop;

namespace Juxhid
{
    /// <summary>A recording the simulated bus refused; Line is the line at fault (0: the file as
    /// a whole, or the speed).</summary>
    public sealed class ReplayException : Exception
    {
        public int Line { get; }

        internal ReplayException(string message, int line) : base(message)
        {
            Line = line;
        }
    }

    /// <summary>A recording being played back on the simulated bus (SimulatedBus.Replay). Its
    /// device is attached from the start; its reports flow once the library has opened the
    /// device. Dispose stops and frees it and leaves the device attached: dispose it before
    /// the process ends, since its thread runs the library's code.</summary>
    public sealed class Replay : IDisposable
    {
        readonly SimFunctions bus;
        readonly object guard = new object();
        IntPtr handle;  // IntPtr.Zero once freed; guarded by guard

        /// <summary>The id of the replay's simulated device.</summary>
        public int Device { get; }

        internal Replay(SimFunctions bus, IntPtr handle)
        {
            this.bus = bus;
            this.handle = handle;
            Device = bus.ReplayDevice(handle);
        }

        IntPtr Live()
        {
            lock (guard)
            {
                if (handle == IntPtr.Zero) throw new ObjectDisposedException("Replay");
                return handle;
            }
        }

        /// <summary>How many of the recording's reports were delivered so far.</summary>
        public int Delivered()
        {
            return bus.ReplayDelivered(Live());
        }

        /// <summary>Waits up to <paramref name="timeout"/> for the end; true once it has ended.</summary>
        public bool Wait(TimeSpan timeout)
        {
            double ms = Math.Max(0, Math.Min(timeout.TotalMilliseconds, uint.MaxValue));
            return bus.ReplayWait(Live(), (uint)ms) == 1;
        }

        /// <summary>Ends the replay early; returns once its thread has ended.</summary>
        public void Stop()
        {
            bus.ReplayStop(Live());
        }

        /// <summary>Stops the replay if need be and frees it; harmless twice.</summary>
        public void Dispose()
        {
            IntPtr freed;
            lock (guard)
            {
                freed = handle;
                handle = IntPtr.Zero;
            }
            if (freed != IntPtr.Zero) bus.ReplayFree(freed);
        }
    }
}
