using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Threading;

namespace Juxhid.Tests
{
    public sealed class CallbacksTests : SimTestGroup
    {
        /// <summary>What a callback saw, safe to read from the test's thread.</summary>
        sealed class Seen<T>
        {
            readonly List<T> calls = new List<T>();

            public void Add(T value)
            {
                lock (calls) calls.Add(value);
            }

            public int Count
            {
                get { lock (calls) return calls.Count; }
            }

            public T[] All()
            {
                lock (calls) return calls.ToArray();
            }
        }

        public void TheDataCallbackGetsTheReportWithoutItsFirstByte()
        {
            int device = OpenDevice();
            var seen = new Seen<byte[]>();
            Lib.SetDataCallback(0, payload => { seen.Add(payload); return true; });
            DeliverWhenReadable(device, new byte[] { 9, 1, 2, 3, 4, 5, 6, 7, 8 });
            Check.True(Check.Eventually(() => seen.Count >= 1), "no callback");
            Check.Bytes(new byte[] { 1, 2, 3, 4, 5, 6, 7, 8 }, seen.All()[0], "payload");
        }

        // The trap every hand-written binding falls into: the delegate handed to
        // the library is collected while the library still holds its address.
        // The callbacks here are referenced by nothing but the binding, they are
        // replaced while reports flow (so a replaced one may still be called),
        // and the collector runs all the time. Each report is delivered alone,
        // so none is merged and every one must arrive.
        public void CallbacksSurviveTheCollectorInBothModes()
        {
            foreach (bool changedOnly in new[] { false, true })
            {
                Sim.Reset();
                int device = OpenDevice();
                var seen = new Seen<int>();
                var gone = new Seen<int>();
                const int reports = 300;
                using (new CollectorStorm())
                {
                    Lib.SetErrorCallback(0, status => gone.Add(status));
                    for (int n = 0; n < reports; n++)
                    {
                        if (n % 10 == 0) InstallCounting(seen, changedOnly);
                        byte[] report = Report(0, (byte)(n % 256), (byte)(n / 256), 0xA5);
                        if (n == 0) DeliverWhenReadable(device, report); else Sim.Deliver(device, report);
                        int expected = n + 1;
                        Check.True(Check.Eventually(() => seen.Count >= expected),
                                   string.Format("changedOnly={0}: report {1} was not delivered", changedOnly, n));
                    }
                    Sim.Detach(device);
                    Check.True(Check.Eventually(() => gone.Count == 1), "changedOnly=" + changedOnly + ": no error callback");
                }
                Check.Equal(string.Join(",", Enumerable.Range(0, reports)), string.Join(",", seen.All()),
                            "changedOnly=" + changedOnly + ": reports delivered");
                Check.Equal(307, gone.All()[0], "the error callback's status");
                Lib.CleanupInterface(0);
            }
        }

        // A new delegate each time, dropped by the caller at once.
        void InstallCounting(Seen<int> seen, bool changedOnly)
        {
            Lib.SetDataCallback(0, payload => { seen.Add(payload[0] | payload[1] << 8); return true; }, changedOnly);
        }

        /// <summary>Forces full collections on a thread of its own until disposed.</summary>
        sealed class CollectorStorm : IDisposable
        {
            readonly Thread thread;
            volatile bool stop;

            public CollectorStorm()
            {
                thread = new Thread(() =>
                {
                    while (!stop)
                    {
                        GC.Collect();
                        GC.WaitForPendingFinalizers();
                    }
                });
                thread.Start();
            }

            public void Dispose()
            {
                stop = true;
                thread.Join();
            }
        }

        public void ChangedOnlySkipsReportsWhosePayloadRepeats()
        {
            int device = OpenDevice();
            var seen = new Seen<byte[]>();
            Lib.SetDataCallback(0, payload => { seen.Add(payload); return true; }, changedOnly: true);
            DeliverWhenReadable(device, Report(0, 1));
            Check.True(Check.Eventually(() => seen.Count == 1), "the first report was not delivered");
            Sim.Deliver(device, Report(9, 1));  // only the report-ID byte differs
            Sim.Deliver(device, Report(0, 2));
            Check.True(Check.Eventually(() => seen.Count == 2), "the changed report was not delivered");
            Check.Equal((byte)2, seen.All()[1][0], "the changed payload");
            Check.True(!Check.Eventually(() => seen.Count > 2, 0.2), "a repeated payload was delivered");
        }

        public void ReturningFalseEndsDeliveryAndNullStopsIt()
        {
            foreach (bool stopByNull in new[] { false, true })
            {
                Sim.Reset();
                int device = OpenDevice();
                var seen = new Seen<byte[]>();
                Lib.SetDataCallback(0, payload => { seen.Add(payload); return stopByNull; });
                DeliverWhenReadable(device, Report(0, 1));
                Check.True(Check.Eventually(() => seen.Count == 1), "the first report was not delivered");
                if (stopByNull) Lib.SetDataCallback(0, null);
                Sim.Deliver(device, Report(0, 2));
                Check.True(!Check.Eventually(() => seen.Count > 1, 0.3),
                           stopByNull ? "delivered after SetDataCallback(null)" : "delivered after returning false");
                Lib.CloseInterface(0);
            }
        }

        public void AnExceptionInACallbackIsReportedAndDeliveryGoesOn()
        {
            int device = OpenDevice();
            var seen = new Seen<byte[]>();
            var errors = new StringWriter();
            TextWriter stderr = Console.Error;
            Console.SetError(TextWriter.Synchronized(errors));
            try
            {
                Lib.SetDataCallback(0, payload =>
                {
                    seen.Add(payload);
                    throw new InvalidOperationException("callback trouble");
                });
                DeliverWhenReadable(device, Report(0, 1));
                Check.True(Check.Eventually(() => seen.Count >= 1), "no callback");
                Sim.Deliver(device, Report(0, 2));
                Check.True(Check.Eventually(() => seen.Count >= 2), "delivery stopped after an exception");
            }
            finally
            {
                Console.SetError(stderr);
            }
            Check.True(errors.ToString().Contains("callback trouble"), "not reported: " + errors);
        }

        public void AFailedSetterKeepsTheCallbackInstalledBefore()
        {
            int device = OpenDevice();
            var first = new Seen<byte[]>();
            Lib.SetDataCallback(0, payload => { first.Add(payload); return true; });
            Sim.ArmFault(SimCall.LockWait, 258, SimThread.Arming);
            Check.Status(StatusCode.CallbackLockFailed, () => Lib.SetDataCallback(0, payload => true), "the setter");
            DeliverWhenReadable(device, Report(0, 1));
            Check.True(Check.Eventually(() => first.Count >= 1), "the callback installed before was dropped");
        }
    }
}
