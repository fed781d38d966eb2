using System;

namespace Juxhid.Tests
{
    public sealed class DisposeTests : SimTestGroup
    {
        public void DisposingALibraryClosesWhatItOpenedAndNothingElse()
        {
            int device = Attach(product: 1);
            Attach(product: 2);
            Check.Equal(2, Lib.ListDevices(Vendor).Count, "devices listed");
            Lib.SetupInterface(0);  // through the shared Library
            var own = new Library(Lib.Path, sim: true);
            own.SetupInterface(1);
            own.SetDataCallback(1, payload => true);
            own.Dispose();
            own.Dispose();  // harmless twice
            Check.Status(StatusCode.ReadNotOpen, () => Lib.ReadData(1), "index 1 after Dispose");
            DeliverWhenReadable(device, Report(0, 1));
            Check.True(Check.Eventually(() => Lib.ReadData(0) != null), "index 0 was closed by another object's Dispose");
            Check.Throws<ObjectDisposedException>(() => own.ReadData(0), "a call after Dispose");
        }

        public void AnOpenedInterfaceIsClosedWhenItsBlockEnds()
        {
            int device = Attach();
            Lib.ListDevices(Vendor);
            using (OpenedInterface opened = Lib.Open(0))
            {
                DeliverWhenReadable(device, Report(0, 1));
                Check.True(Check.Eventually(() => Lib.ReadData(opened.Index) != null), "no report while open");
            }
            Check.Status(StatusCode.ReadNotOpen, () => Lib.ReadData(0), "after the block");
            Check.True(Check.Eventually(() => Sim.Counts().HoldsSameAs(Baseline)), "left open: " + Sim.Counts());
        }

        // An opening that failed part way holds what it created until closed:
        // both Open and Dispose close it.
        public void AnOpeningThatFailedPartWayIsClosed()
        {
            Attach();
            Lib.ListDevices(Vendor);
            Sim.ArmFault(SimCall.OpenWrite, 5);
            Check.Status(StatusCode.OpenWriteDenied, () => Lib.Open(0), "Open");
            Check.True(Check.Eventually(() => Sim.Counts().HoldsSameAs(Baseline)), "Open left: " + Sim.Counts());

            var own = new Library(Lib.Path, sim: true);
            Sim.ArmFault(SimCall.OpenWrite, 5);
            Check.Status(StatusCode.OpenWriteDenied, () => own.SetupInterface(0), "SetupInterface");
            Check.True(!Sim.Counts().HoldsSameAs(Baseline), "the failed opening held nothing to close");
            own.Dispose();
            Check.True(Check.Eventually(() => Sim.Counts().HoldsSameAs(Baseline)), "Dispose left: " + Sim.Counts());
        }
    }
}
