// Shared ground for the tests: the simulated-bus library, an empty bus for
// every test, and a check at the end that nothing was left open.
using System;

namespace Juxhid.Tests
{
    public abstract class SimTestGroup : TestGroup
    {
        public const int Vendor = 0x1A2B;
        static Library shared;

        protected Library Lib;
        protected SimulatedBus Sim;
        protected SimCounts Baseline;

        /// <summary>One Library for the whole run: the library's state is the process's anyway.</summary>
        protected static Library SharedLibrary()
        {
            return shared ?? (shared = new Library(sim: true));
        }

        public override void SetUp()
        {
            Lib = SharedLibrary();
            Sim = Lib.Sim;
            Sim.Reset();
            // What the loaded library holds for good (its write lock), so that
            // each test proves it left nothing beyond it.
            Baseline = Sim.Counts();
        }

        public override void TearDown()
        {
            Sim.ClearFaults();
            for (int index = 0; index < Library.MaxDevices; index++) Lib.CloseInterface(index);
            Check.True(Check.Eventually(() => Sim.Counts().HoldsSameAs(Baseline)),
                       "left open: " + Sim.Counts() + ", before the test: " + Baseline);
            Sim.Reset();
        }

        protected int Attach(int product = 1, int inputLength = 9, int outputLength = 9, int usagePage = 0xFF00,
                             int usage = 1)
        {
            return Sim.Attach(Vendor, product, usagePage, usage, inputLength, outputLength);
        }

        /// <summary>Attaches one device, lists it and opens index 0; returns its id.</summary>
        protected int OpenDevice(int inputLength = 9, int outputLength = 9)
        {
            int device = Attach(inputLength: inputLength, outputLength: outputLength);
            Check.Equal(1, Lib.ListDevices(Vendor).Count, "devices listed");
            Lib.SetupInterface(0);
            return device;
        }

        /// <summary>Delivers once the reader holds a read handle.</summary>
        protected void DeliverWhenReadable(int device, byte[] report)
        {
            Check.True(Check.Eventually(() => Sim.Deliver(device, report) > 0), "the reader never opened the device");
        }

        protected static byte[] Report(params byte[] head)
        {
            var report = new byte[9];
            Array.Copy(head, report, head.Length);
            return report;
        }
    }
}
