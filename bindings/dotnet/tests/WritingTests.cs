using System;
using System.Linq;

namespace Juxhid.Tests
{
    public sealed class WritingTests : SimTestGroup
    {
        public void AShortReportIsPaddedToTheOutputLength()
        {
            int device = OpenDevice(outputLength: 9);
            Lib.WriteData(0, new byte[] { 1, 2 });
            Check.True(Check.Eventually(() => Sim.OutputCount(device) == 1), "nothing written");
            Check.Bytes(new byte[] { 1, 2, 0, 0, 0, 0, 0, 0, 0 }, Sim.TakeOutput(device).Data, "written");
        }

        public void AReportLongerThanTheOutputLengthIsRefusedUnsent()
        {
            int device = OpenDevice(outputLength: 4);
            Check.Throws<ArgumentException>(() => Lib.WriteData(0, new byte[5]), "WriteData");
            Check.Throws<ArgumentException>(() => Lib.FastWrite(0, new byte[5]), "FastWrite");
            Check.Equal(0, Sim.OutputCount(device), "reports written");
        }

        // About 50 ms apart through WriteData, 5 ms through FastWrite; the
        // bounds allow for a busy machine.
        public void ABurstGoesOutOneReportPerTick()
        {
            var cases = new[]
            {
                new { Name = "WriteData", Write = (Action<int, byte[]>)Lib.WriteData, MinMs = 25.0 },
                new { Name = "FastWrite", Write = (Action<int, byte[]>)Lib.FastWrite, MinMs = 2.0 },
            };
            foreach (var row in cases)
            {
                Sim.Reset();
                int device = OpenDevice();
                for (byte n = 0; n < 4; n++) row.Write(0, new byte[] { 0, n });
                Check.True(Check.Eventually(() => Sim.OutputCount(device) == 4), row.Name + ": not all written");
                var outputs = Sim.Outputs(device);
                Check.Equal("0,1,2,3", string.Join(",", outputs.Select(o => o.Data[1])), row.Name + ": order");
                for (int n = 1; n < outputs.Count; n++)
                {
                    double gapMs = (outputs[n].TimestampNs - outputs[n - 1].TimestampNs) / 1e6;
                    Check.True(gapMs > row.MinMs && gapMs < 500, string.Format("{0}: gap {1} of {2:F1} ms", row.Name, n, gapMs));
                }
                Lib.CloseInterface(0);
                // A slow chain still running would refuse the next row's FastWrite.
                Check.True(Check.Eventually(() => Sim.Counts().HoldsSameAs(Baseline)), row.Name + ": the chain never ended");
            }
        }

        public void FastWriteDuringASlowChainRaises414()
        {
            OpenDevice();
            Lib.WriteData(0, new byte[9]);
            var error = Check.Status(StatusCode.WriteSlowChain, () => Lib.FastWrite(0, new byte[9]), "FastWrite");
            Check.Equal("FastWrite", error.Function, "function");
        }

        public void ADeviceWithoutOutputRaises402()
        {
            OpenDevice(outputLength: 0);
            Check.Status(StatusCode.WriteNoOutput, () => Lib.WriteData(0, new byte[] { 0 }), "WriteData");
        }
    }
}
