using System;
using System.IO;
using System.Linq;

namespace Juxhid.Tests
{
    public sealed class ReadingTests : SimTestGroup
    {
        public void ReportsComeOutOldestFirstThenNull()
        {
            int device = OpenDevice();
            DeliverWhenReadable(device, Report(0, 1));
            Sim.Deliver(device, Report(0, 2));
            Sim.Deliver(device, Report(0, 3));
            for (byte n = 1; n <= 3; n++)
            {
                byte[] report = null;
                Check.True(Check.Eventually(() => (report = Lib.ReadData(0)) != null), "report " + n + " never came");
                Check.Bytes(Report(0, n), report, "report " + n);
            }
            Check.Equal(null, Lib.ReadData(0), "ReadData with nothing unread");
        }

        public void ReadArraysAreSizedFromTheDevicesLength()
        {
            foreach (int length in new[] { 1, 2, 65, 1024 })
            {
                Sim.Reset();
                int device = Attach(inputLength: length);
                Lib.ListDevices(Vendor);
                Lib.SetupInterface(0);
                byte[] sent = Enumerable.Range(0, length).Select(n => (byte)(n * 7)).ToArray();
                DeliverWhenReadable(device, sent);
                byte[] read = null;
                Check.True(Check.Eventually(() => (read = Lib.ReadData(0)) != null), "length " + length);
                Check.Bytes(sent, read, "length " + length);
                Check.Bytes(sent, Lib.ReadLast(0), "ReadLast, length " + length);
                Lib.CloseInterface(0);
            }
        }

        public void ReadLastGivesTheNewestAgainAndClearBufferForgetsIt()
        {
            int device = OpenDevice();
            DeliverWhenReadable(device, Report(0, 1));
            Sim.Deliver(device, Report(0, 2));
            Check.True(Check.Eventually(() => (Lib.ReadLast(0) ?? new byte[2])[1] == 2), "the newest report never came");
            Check.Bytes(Report(0, 2), Lib.ReadLast(0), "ReadLast again");
            Lib.ClearBuffer(0);
            Check.Equal(null, Lib.ReadData(0), "ReadData after ClearBuffer");
            Check.Equal(null, Lib.ReadLast(0), "ReadLast after ClearBuffer");
        }

        public void AnUnpluggedDeviceHandsOutWhatItStoredThenRaisesItsGoneCodes()
        {
            int device = OpenDevice();
            DeliverWhenReadable(device, Report(0, 1));
            Check.True(Check.Eventually(() => Lib.ReadLast(0) != null), "the report never came");
            Sim.Detach(device);
            Check.Bytes(Report(0, 1), Lib.ReadData(0), "the stored report after the unplug");
            Check.True(Check.Eventually(() => ReadStatus() == StatusCode.ReadDeviceGone), "ReadData never answered 307");
            Check.Status(StatusCode.LastDeviceGone, () => Lib.ReadLast(0), "ReadLast");
            Check.Status(StatusCode.WriteDeviceGone, () => Lib.WriteData(0, new byte[9]), "WriteData");
            Lib.CleanupInterface(0);
        }

        StatusCode ReadStatus()
        {
            try
            {
                Lib.ReadData(0);
                return StatusCode.Ok;
            }
            catch (JuxhidException error)
            {
                return error.Status;
            }
        }

        const string RecordingHeader = "juxhid-recording 1\nvendor 0x1A2B\nproduct 0x0001\nusage-page 0xFF00\n" +
                                       "usage 0x0001\ninput-length 9\noutput-length 9\n";

        public void AReplayedRecordingIsReadInOrderThenUnplugs()
        {
            string path = Path.GetTempFileName();
            try
            {
                // Reports 40 ms apart once the device is open, the unplug 0.5 s on.
                File.WriteAllText(path, RecordingHeader + "0 000100000000000000\n40000 000200000000000000\n" +
                                        "unplug 500000\n");
                using (Replay replay = Sim.Replay(path))
                {
                    Check.Equal(1, Lib.ListDevices(Vendor).Count, "devices listed");
                    Lib.SetupInterface(0);
                    for (byte n = 1; n <= 2; n++)
                    {
                        byte[] report = null;
                        Check.True(Check.Eventually(() => (report = Lib.ReadData(0)) != null), "replayed report " + n);
                        Check.Bytes(Report(0, n), report, "replayed report " + n);
                    }
                    Check.True(replay.Wait(TimeSpan.FromSeconds(5)), "the replay never ended");
                    Check.Equal(2, replay.Delivered(), "reports delivered");
                    // The reader learns of the unplug when its pending read fails.
                    Check.True(Check.Eventually(() => ReadStatus() == StatusCode.ReadDeviceGone),
                               "ReadData never answered 307 after the replayed unplug");
                    Lib.CleanupInterface(0);
                }
                File.WriteAllText(path, RecordingHeader + "10 00\n");
                var refused = Check.Throws<ReplayException>(() => Sim.Replay(path), "a report of the wrong length");
                Check.Equal(8, refused.Line, refused.Message);
                Check.Equal(0, Lib.ListDevices(Vendor).Count, "devices attached by a refused recording");
            }
            finally
            {
                File.Delete(path);
            }
        }
    }
}
