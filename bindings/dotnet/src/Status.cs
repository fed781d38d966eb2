// The library's status codes with their names and meanings, and the exception
// a failed call raises. The entries themselves are generated from the
// library's one status table at build time (StatusTable.g.cs).
using System;
using System.Collections.Generic;

namespace Juxhid
{
    /// <summary>One entry of the status table.</summary>
    public sealed class Status
    {
        public int Code { get; }
        /// <summary>The name in juxhid_status.h, e.g. JUXHID_OPEN_READ_DENIED.</summary>
        public string Name { get; }
        public string Meaning { get; }

        internal Status(int code, string name, string meaning)
        {
            Code = code;
            Name = name;
            Meaning = meaning;
        }

        public override string ToString()
        {
            return string.Format("{0} {1}: {2}", Code, Name, Meaning);
        }
    }

    public static partial class StatusTable
    {
        /// <summary>Every entry, in the table's order.</summary>
        public static IReadOnlyList<Status> Entries
        {
            get { return entries; }
        }

        /// <summary>The entry for a code, or null for a code the library never returns.</summary>
        public static Status Lookup(int code)
        {
            Status status;
            return ByCode.Index.TryGetValue(code, out status) ? status : null;
        }

        /// <summary>"206 JUXHID_OPEN_READ_DENIED: opening the device for reading was denied".</summary>
        public static string Describe(int code)
        {
            Status status = Lookup(code);
            return status != null ? status.ToString() : code + ": not a status the library returns";
        }

        // Built on first use: the entries come from the other half of this
        // partial class, whose initializers may run after this file's.
        static class ByCode
        {
            internal static readonly Dictionary<int, Status> Index = Build();

            static Dictionary<int, Status> Build()
            {
                var index = new Dictionary<int, Status>();
                foreach (Status status in entries) index.Add(status.Code, status);
                return index;
            }
        }
    }

    /// <summary>A library function answered a status other than success.</summary>
    public sealed class JuxhidException : Exception
    {
        /// <summary>The library function that failed, e.g. SetupInterface.</summary>
        public string Function { get; }
        public int Code { get; }
        /// <summary>The code's name in the status table, or null for a code not in it.</summary>
        public string Name { get; }
        public string Meaning { get; }

        public StatusCode Status
        {
            get { return (StatusCode)Code; }
        }

        public JuxhidException(string function, int code)
            : base(string.Format("{0} failed with {1}", function, StatusTable.Describe(code)))
        {
            Function = function;
            Code = code;
            Status status = StatusTable.Lookup(code);
            Name = status != null ? status.Name : null;
            Meaning = status != null ? status.Meaning : "not a status the library returns";
        }
    }
}
