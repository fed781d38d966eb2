// One loaded native library: its functions as delegates, and the callback
// thunks that belong to it. A library is loaded once per process and never
// unloaded (threads it started may still be running its code), so a module
// lives as long as the process and every Library object on the same file
// shares it, as they share the library's state.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace Juxhid.Interop
{
    internal sealed class NativeModule
    {
        static readonly Dictionary<IntPtr, NativeModule> loaded = new Dictionary<IntPtr, NativeModule>();

        internal readonly EnumerateJUXFn EnumerateJUX;
        internal readonly IndexFn GetReadLength, GetWriteLength, SetupInterface, ClearBuffer;
        internal readonly CloseFn CloseInterface, CleanupInterface;
        internal readonly BufferFn ReadData, ReadLast, WriteData, FastWrite;
        internal readonly SetDataCallbackFn SetDataCallback;
        internal readonly SetErrorCallbackFn SetErrorCallback;
        internal readonly SimFunctions Sim;  // null unless this is the simulated-bus build
        internal readonly CallbackHub Callbacks;

        /// <summary>The module for the file (the one already made when the loader
        /// gives the same handle), or null with the reason.</summary>
        internal static NativeModule Open(string file, out string error)
        {
            IntPtr handle = NativeLoader.Open(file, out error);
            if (handle == IntPtr.Zero) return null;
            lock (loaded)
            {
                NativeModule module;
                if (!loaded.TryGetValue(handle, out module))
                {
                    var functions = new FunctionTable(handle);
                    string missing = functions.FirstMissing(ExportedNames);
                    if (missing != null)
                    {
                        error = "it does not export " + missing + ": not a JUXHID library";
                        return null;
                    }
                    module = new NativeModule(functions);
                    loaded.Add(handle, module);
                }
                return module;
            }
        }

        static readonly string[] ExportedNames =
        {
            "EnumerateJUX", "GetReadLength", "GetWriteLength", "SetupInterface", "CloseInterface",
            "CleanupInterface", "ReadData", "ReadLast", "ClearBuffer", "SetDataCallback",
            "SetErrorCallback", "WriteData", "FastWrite",
        };

        NativeModule(FunctionTable functions)
        {
            EnumerateJUX = functions.Get<EnumerateJUXFn>("EnumerateJUX");
            GetReadLength = functions.Get<IndexFn>("GetReadLength");
            GetWriteLength = functions.Get<IndexFn>("GetWriteLength");
            SetupInterface = functions.Get<IndexFn>("SetupInterface");
            CloseInterface = functions.Get<CloseFn>("CloseInterface");
            CleanupInterface = functions.Get<CloseFn>("CleanupInterface");
            ReadData = functions.Get<BufferFn>("ReadData");
            ReadLast = functions.Get<BufferFn>("ReadLast");
            ClearBuffer = functions.Get<IndexFn>("ClearBuffer");
            SetDataCallback = functions.Get<SetDataCallbackFn>("SetDataCallback");
            SetErrorCallback = functions.Get<SetErrorCallbackFn>("SetErrorCallback");
            WriteData = functions.Get<BufferFn>("WriteData");
            FastWrite = functions.Get<BufferFn>("FastWrite");
            Sim = functions.Has("juxsim_attach") ? new SimFunctions(functions) : null;
            Callbacks = new CallbackHub();
        }
    }

    /// <summary>The exported functions of one loaded library, by name.</summary>
    internal sealed class FunctionTable
    {
        readonly IntPtr library;

        internal FunctionTable(IntPtr library)
        {
            this.library = library;
        }

        internal bool Has(string name)
        {
            return NativeLoader.Symbol(library, name) != IntPtr.Zero;
        }

        internal string FirstMissing(IEnumerable<string> names)
        {
            foreach (string name in names)
                if (!Has(name)) return name;
            return null;
        }

        internal T Get<T>(string name) where T : class
        {
            IntPtr address = NativeLoader.Symbol(library, name);
            if (address == IntPtr.Zero) throw new EntryPointNotFoundException("juxhid: the library does not export " + name);
            return (T)(object)Marshal.GetDelegateForFunctionPointer(address, typeof(T));
        }
    }

    /// <summary>The simulated bus's functions (juxhid_sim.h).</summary>
    internal sealed class SimFunctions
    {
        internal readonly SimAttachFn Attach;
        internal readonly SimDeviceFn Detach, OutputCount, FaultFired;
        internal readonly SimDeliverFn Deliver;
        internal readonly SimTakeOutputFn TakeOutput;
        internal readonly SimSetWriteDelayFn SetWriteDelay;
        internal readonly SimNowFn NowNs;
        internal readonly SimFaultArmFn FaultArm;
        internal readonly SimVoidFn FaultClear, Reset;
        internal readonly SimCountsFn Counts;
        internal readonly SimLastMessageBoxFn LastMessageBox;
        internal readonly SimReplayStartFn ReplayStart;
        internal readonly SimReplayErrorFn ReplayError;
        internal readonly SimReplayFn ReplayDevice, ReplayDelivered;
        internal readonly SimReplayWaitFn ReplayWait;
        internal readonly SimReplayVoidFn ReplayStop, ReplayFree;

        internal SimFunctions(FunctionTable functions)
        {
            Attach = functions.Get<SimAttachFn>("juxsim_attach");
            Detach = functions.Get<SimDeviceFn>("juxsim_detach");
            Deliver = functions.Get<SimDeliverFn>("juxsim_deliver");
            TakeOutput = functions.Get<SimTakeOutputFn>("juxsim_take_output");
            OutputCount = functions.Get<SimDeviceFn>("juxsim_output_count");
            SetWriteDelay = functions.Get<SimSetWriteDelayFn>("juxsim_set_write_delay");
            NowNs = functions.Get<SimNowFn>("juxsim_now_ns");
            FaultArm = functions.Get<SimFaultArmFn>("juxsim_fault_arm");
            FaultFired = functions.Get<SimDeviceFn>("juxsim_fault_fired");
            FaultClear = functions.Get<SimVoidFn>("juxsim_fault_clear");
            Counts = functions.Get<SimCountsFn>("juxsim_counts");
            LastMessageBox = functions.Get<SimLastMessageBoxFn>("juxsim_last_message_box");
            Reset = functions.Get<SimVoidFn>("juxsim_reset");
            ReplayStart = functions.Get<SimReplayStartFn>("juxsim_replay_start");
            ReplayError = functions.Get<SimReplayErrorFn>("juxsim_replay_error");
            ReplayDevice = functions.Get<SimReplayFn>("juxsim_replay_device");
            ReplayDelivered = functions.Get<SimReplayFn>("juxsim_replay_delivered");
            ReplayWait = functions.Get<SimReplayWaitFn>("juxsim_replay_wait");
            ReplayStop = functions.Get<SimReplayVoidFn>("juxsim_replay_stop");
            ReplayFree = functions.Get<SimReplayVoidFn>("juxsim_replay_free");
        }
    }
}
