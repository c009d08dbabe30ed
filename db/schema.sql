-- The Mailsort Database as the suite creates it: every table but `bags`, empty.
-- Reference tables keep their key in `code` with trailing blanks ignored, so a
-- fixed-width blank-filled key finds the row whose key equals it without them.

CREATE TABLE parmcode (
  "RunAlone" TEXT,
  "RunCodes" TEXT,
  "RunReports" TEXT,
  "RunLabels" TEXT,
  "BagMax" REAL,
  "Weight" REAL,
  "BundleMax" REAL,
  "selection" TEXT,
  "service" TEXT,
  "Mailsort120" TEXT,
  "ResOnly" TEXT,
  "Geog" TEXT,
  "Format" TEXT,
  "postcode" TEXT,
  "BagLab" TEXT,
  "BundleLab" TEXT,
  "Company Name" TEXT,
  "JobRef" TEXT,
  "printer" TEXT,
  "RoyalMail" TEXT
);

CREATE TABLE kvwork (
  "mscode" TEXT,
  "rscode" TEXT,
  "seq" REAL,
  "rgcode" TEXT,
  "sflag" TEXT,
  "pcflag" TEXT,
  "Name" TEXT,
  "Address1" TEXT,
  "Address2" TEXT,
  "Address3" TEXT,
  "Address4" TEXT,
  "town" TEXT,
  "county" TEXT,
  "postcode" TEXT
);

CREATE INDEX kvwork_Key1 ON kvwork (mscode);
CREATE INDEX kvwork_Key2 ON kvwork (seq, mscode);

CREATE TABLE region (
  code TEXT PRIMARY KEY COLLATE RTRIM,
  "mdreg" REAL
);

CREATE TABLE pcode (
  code TEXT PRIMARY KEY COLLATE RTRIM,
  "mdsel" TEXT
);

CREATE TABLE sequence (
  code TEXT PRIMARY KEY COLLATE RTRIM,
  "mdsorts" TEXT
);

CREATE TABLE label (
  code TEXT PRIMARY KEY COLLATE RTRIM,
  "mdlab" TEXT
);

CREATE TABLE poprice (
  "LeW1Fst" REAL,
  "LeW1Snd" REAL,
  "LLWgt1" REAL,
  "LLWgt2" REAL,
  "LLWgt3" REAL,
  "LLW1Fst" REAL,
  "LLW2Fst" REAL,
  "LLW3Fst" REAL,
  "LLW4Fst" REAL,
  "LLW1Snd" REAL,
  "LLW2Snd" REAL,
  "LLW3Snd" REAL,
  "LLW4Snd" REAL,
  "PKWgt1" REAL,
  "PKWgt2" REAL,
  "PKWgt3" REAL,
  "PKWgt4" REAL,
  "PKWgt5" REAL,
  "PKWgt6" REAL,
  "PKWgt7" REAL,
  "PKWgt8" REAL,
  "PKWgt9" REAL,
  "PKW1Fst" REAL,
  "PKW2Fst" REAL,
  "PKW3Fst" REAL,
  "PKW4Fst" REAL,
  "PKW5Fst" REAL,
  "PKW6Fst" REAL,
  "PKW7Fst" REAL,
  "PKW8Fst" REAL,
  "PKW9Fst" REAL,
  "PKW1Snd" REAL,
  "PKW2Snd" REAL,
  "PKW3Snd" REAL,
  "PKW4Snd" REAL,
  "PKW5Snd" REAL,
  "PKW6Snd" REAL,
  "PKW7Snd" REAL,
  "PKW8Snd" REAL,
  "PKW9Snd" REAL
);

CREATE TABLE price (
  code TEXT PRIMARY KEY COLLATE RTRIM,
  "LeBase1" REAL,
  "LLWgt1" REAL,
  "LLWgt2" REAL,
  "LLBase1" REAL,
  "LLBase2" REAL,
  "LLExt1" REAL,
  "A3Wgt1" REAL,
  "A3Wgt2" REAL,
  "A3Base1" REAL,
  "A3Base2" REAL,
  "A3Ext1" REAL,
  "PKWgt1" REAL,
  "PKWgt2" REAL,
  "PKWgt3" REAL,
  "PKBase1" REAL,
  "PKBase2" REAL,
  "PKExt1" REAL,
  "PKExt2" REAL,
  "PkBase3" REAL,
  "LeDPtg1" REAL,
  "LeRPtg1" REAL,
  "LLDPtg1" REAL,
  "LLRPtg1" REAL,
  "A3DPtg1" REAL,
  "A3RPtg1" REAL,
  "PKDPtg1" REAL,
  "PKRPtg1" REAL,
  "LeQty1" REAL,
  "LeQty2" REAL,
  "LeQty3" REAL,
  "LeQty4" REAL,
  "LeQty5" REAL,
  "LLQty1" REAL,
  "LLQty2" REAL,
  "LLQty3" REAL,
  "LLQty4" REAL,
  "LLQty5" REAL,
  "A3Qty1" REAL,
  "A3Qty2" REAL,
  "A3Qty3" REAL,
  "A3Qty4" REAL,
  "A3Qty5" REAL,
  "PKQty1" REAL,
  "PKQty2" REAL,
  "PKQty3" REAL,
  "PKQty4" REAL,
  "PKQty5" REAL,
  "LeQ1VRD1" REAL,
  "LeQ2VRD1" REAL,
  "LeQ3VRD1" REAL,
  "LeQ4VRD1" REAL,
  "LeQ5VRD1" REAL,
  "LLQ1VRD1" REAL,
  "LLQ2VRD1" REAL,
  "LLQ3VRD1" REAL,
  "LLQ4VRD1" REAL,
  "LLQ5VRD1" REAL,
  "A3Q1VRD1" REAL,
  "A3Q2VRD1" REAL,
  "A3Q3VRD1" REAL,
  "A3Q4VRD1" REAL,
  "A3Q5VRD1" REAL,
  "PKQ1VRD1" REAL,
  "PKQ2VRD1" REAL,
  "PKQ3VRD1" REAL,
  "PKQ4VRD1" REAL,
  "PKQ5VRD1" REAL,
  "Qty1" REAL,
  "Qty2" REAL,
  "LeQ1DPtg1" REAL,
  "LeQ2DPtg1" REAL,
  "LeQ3DPtg1" REAL,
  "Franking Surcharge" REAL
);
