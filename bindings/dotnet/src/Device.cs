namespace Juxhid
{
    /// <summary>One listed interface of the vendor, as Library.ListDevices gives it.</summary>
    public sealed class Device
    {
        /// <summary>The index every other call names the interface by, until the next listing.</summary>
        public int Index { get; }
        public int ProductId { get; }
        public int UsagePage { get; }
        public int Usage { get; }
        /// <summary>Input report length in bytes, report-ID byte counted; 0: no input reports.</summary>
        public int ReadLength { get; }
        /// <summary>Output report length, counted the same way; 0: no output reports.</summary>
        public int WriteLength { get; }

        internal Device(int index, int productId, int usagePage, int usage, int readLength, int writeLength)
        {
            Index = index;
            ProductId = productId;
            UsagePage = usagePage;
            Usage = usage;
            ReadLength = readLength;
            WriteLength = writeLength;
        }

        public override string ToString()
        {
            return string.Format("Device(Index={0}, ProductId=0x{1:X4}, UsagePage=0x{2:X4}, Usage=0x{3:X4}, " +
                                 "ReadLength={4}, WriteLength={5})",
                                 Index, ProductId, UsagePage, Usage, ReadLength, WriteLength);
        }
    }
}
