using System;
using System.Runtime.InteropServices;
using Juxhid.Interop;

namespace Juxhid.Tests
{
    public sealed class ListingTests : SimTestGroup
    {
        public void ListsOneRecordPerDeviceWithEachFieldInItsPlace()
        {
            // Every field distinct, so that swapped fields show.
            Attach(product: 0x0101, inputLength: 9, outputLength: 65, usagePage: 0xFF01, usage: 0x0002);
            Sim.Attach(0x0BAD, 0x0202, 0xFF02, 3, 9, 9);  // another vendor's: not listed
            Attach(product: 0x0303, inputLength: 2000, outputLength: 0, usagePage: 0x0001, usage: 0x0004);
            var devices = Lib.ListDevices(Vendor);
            Check.Equal(2, devices.Count, "devices listed");
            var expected = new[] { new[] { 0, 0x0101, 0xFF01, 2, 9, 65 }, new[] { 1, 0x0303, 0x0001, 4, 2000, 0 } };
            for (int row = 0; row < 2; row++)
            {
                Device device = devices[row];
                var actual = new[] { device.Index, device.ProductId, device.UsagePage, device.Usage,
                                     device.ReadLength, device.WriteLength };
                Check.Equal(string.Join(",", expected[row]), string.Join(",", actual), device.ToString());
            }
        }

        public void NoDeviceOfTheVendorGivesAnEmptyList()
        {
            Sim.Attach(0x0BAD, 1, 0xFF00, 1, 9, 9);
            Check.Equal(0, Lib.ListDevices(Vendor).Count, "devices listed");
        }

        public void AnUnlistedIndexHasNoLengths()
        {
            Attach();
            Lib.ListDevices(Vendor);
            foreach (int index in new[] { -1, 1, 24, 25 })
            {
                Check.Throws<ArgumentOutOfRangeException>(() => Lib.ReadLength(index), "ReadLength(" + index + ")");
                Check.Throws<ArgumentOutOfRangeException>(() => Lib.WriteLength(index), "WriteLength(" + index + ")");
            }
        }

        public void RecordsCrossingTheBoundaryHaveTheCLayout()
        {
            Check.Equal(16, Marshal.SizeOf(typeof(DeviceSummary)), "sizeof(DeviceSummary)");
            string[] fields = { "ProductID", "Usage", "UsagePage", "Index" };
            for (int field = 0; field < fields.Length; field++)
                Check.Equal(4 * field, (int)Marshal.OffsetOf(typeof(DeviceSummary), fields[field]), fields[field]);
            // Six 32-bit fields, then the pointer, aligned to its own size.
            Check.Equal(24, (int)Marshal.OffsetOf(typeof(JuxsimDeviceInfo), "Path"), "offsetof(JuxsimDeviceInfo, path)");
            Check.Equal(24 + IntPtr.Size, Marshal.SizeOf(typeof(JuxsimDeviceInfo)), "sizeof(JuxsimDeviceInfo)");
            Check.Equal(28, Marshal.SizeOf(typeof(JuxsimFault)), "sizeof(JuxsimFault)");
            Check.Equal(36, Marshal.SizeOf(typeof(JuxsimCounts)), "sizeof(JuxsimCounts)");
        }
    }
}
