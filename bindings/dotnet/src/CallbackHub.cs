// The callback thunks of one loaded library, and the host's delegates they
// pass each call on to.
//
// The library keeps a callback's address and may call it after the setter
// that replaced or cleared it has returned: its callback thread reads the
// address under the interface's lock and calls it after releasing the lock,
// and a close leaves a callback thread still inside a callback to finish on
// its own. No host can see when that thread is done. So the binding never
// hands the library a delegate that the garbage collector could take: it
// hands over only the hub's own thunks, two per interface index, made once and
// held by the module for the life of the process (the library is never
// unloaded, so it can always call them). Each thunk looks up the host's
// delegate for its index at the moment of the call; the hub holds that
// delegate exactly while it is installed, and a call already running holds
// its own reference on the stack.
using System;
using System.Runtime.InteropServices;
using System.Threading;

namespace Juxhid.Interop
{
    internal sealed class CallbackHub
    {
        internal const int Indexes = 25;

        sealed class DataRegistration
        {
            internal readonly DataCallback Callback;
            internal readonly int PayloadLength;

            internal DataRegistration(DataCallback callback, int payloadLength)
            {
                Callback = callback;
                PayloadLength = payloadLength;
            }
        }

        readonly NativeDataCallback[] dataThunks = new NativeDataCallback[Indexes];
        readonly NativeErrorCallback[] errorThunks = new NativeErrorCallback[Indexes];
        readonly DataRegistration[] dataCallbacks = new DataRegistration[Indexes];
        readonly ErrorCallback[] errorCallbacks = new ErrorCallback[Indexes];

        internal CallbackHub()
        {
            for (int index = 0; index < Indexes; index++)
            {
                int slot = index;  // each thunk's own copy
                dataThunks[index] = report => OnData(slot, report);
                errorThunks[index] = status => OnError(slot, status);
            }
        }

        /// <summary>Whether the library can have an interface at this index at all.</summary>
        internal static bool Holds(int index)
        {
            return index >= 0 && index < Indexes;
        }

        /// <summary>Installs the host's delegate and hands the index's thunk to the library
        /// through <paramref name="install"/>; when the library refuses, the delegate installed
        /// before stays, as the library's own setting does.</summary>
        internal int InstallData(int index, DataCallback callback, int payloadLength,
                                 Func<NativeDataCallback, int> install)
        {
            var registration = new DataRegistration(callback, payloadLength);
            DataRegistration previous = Interlocked.Exchange(ref dataCallbacks[index], registration);
            int status = install(dataThunks[index]);
            if (status != 0) Interlocked.CompareExchange(ref dataCallbacks[index], previous, registration);
            return status;
        }

        internal int InstallError(int index, ErrorCallback callback, Func<NativeErrorCallback, int> install)
        {
            ErrorCallback previous = Interlocked.Exchange(ref errorCallbacks[index], callback);
            int status = install(errorThunks[index]);
            if (status != 0) Interlocked.CompareExchange(ref errorCallbacks[index], previous, callback);
            return status;
        }

        /// <summary>Lets go of the host's delegates for an index whose opening ended.</summary>
        internal void Forget(int index)
        {
            if (!Holds(index)) return;
            Volatile.Write(ref dataCallbacks[index], null);
            Volatile.Write(ref errorCallbacks[index], null);
        }

        internal void ForgetData(int index)
        {
            Volatile.Write(ref dataCallbacks[index], null);
        }

        internal void ForgetError(int index)
        {
            Volatile.Write(ref errorCallbacks[index], null);
        }

        // Runs on the library's callback thread. Nothing may unwind into the
        // library: an exception is reported and delivery goes on. A call that
        // finds no delegate is a late one for a callback already replaced or
        // cleared: it goes on and delivers nothing.
        int OnData(int index, IntPtr report)
        {
            DataRegistration registration = Volatile.Read(ref dataCallbacks[index]);
            if (registration == null) return 1;
            try
            {
                var payload = new byte[registration.PayloadLength];
                if (payload.Length > 0) Marshal.Copy(report, payload, 0, payload.Length);
                return registration.Callback(payload) ? 1 : 0;
            }
            catch (Exception error)
            {
                Report("data", index, error);
                return 1;
            }
        }

        int OnError(int index, IntPtr status)
        {
            ErrorCallback callback = Volatile.Read(ref errorCallbacks[index]);
            if (callback == null) return 0;
            try
            {
                callback((int)status.ToInt64());
            }
            catch (Exception error)
            {
                Report("error", index, error);
            }
            return 0;
        }

        static void Report(string kind, int index, Exception error)
        {
            try
            {
                Console.Error.WriteLine("juxhid: the {0} callback of interface {1} threw: {2}", kind, index, error);
            }
            catch (Exception)
            {
                // Even a failing stderr must not unwind into the library.
            }
        }
    }
}
