-- The Mailsort Database on PostgreSQL 15, as the suite creates it: the same
-- tables, fields and named indexes as db/schema.sql, every table but `bags`,
-- empty. Run it in the job's schema (SET search_path TO job; then this file).
--
-- Texts are `text COLLATE "C"`, so they order byte by byte as on SQLite;
-- numbers are `double precision`. Reference tables keep their key in
-- `code bpchar COLLATE "C" PRIMARY KEY`: bpchar compares without trailing
-- blanks, so a fixed-width blank-filled key ("M1    ") finds the row stored
-- without them ("M1"), and it keeps the text as it was written.
--
-- Every table has a hidden column "rowid", an identity that numbers its rows
-- in the order they were added. It stands for SQLite's rowid: rows with
-- equal keys come in rowid order, and the store finds a row again by it.
-- The store never shows it as a field; the suite's programs leave it alone
-- (an INSERT names its fields and lets the identity number the row). Every
-- named index ends with it and keeps Nulls first, as SQLite orders them.

CREATE TABLE "parmcode" (
  "RunAlone" text COLLATE "C",
  "RunCodes" text COLLATE "C",
  "RunReports" text COLLATE "C",
  "RunLabels" text COLLATE "C",
  "BagMax" double precision,
  "Weight" double precision,
  "BundleMax" double precision,
  "selection" text COLLATE "C",
  "service" text COLLATE "C",
  "Mailsort120" text COLLATE "C",
  "ResOnly" text COLLATE "C",
  "Geog" text COLLATE "C",
  "Format" text COLLATE "C",
  "postcode" text COLLATE "C",
  "BagLab" text COLLATE "C",
  "BundleLab" text COLLATE "C",
  "Company Name" text COLLATE "C",
  "JobRef" text COLLATE "C",
  "printer" text COLLATE "C",
  "RoyalMail" text COLLATE "C",
  "rowid" bigint GENERATED ALWAYS AS IDENTITY UNIQUE
);

CREATE TABLE "kvwork" (
  "mscode" text COLLATE "C",
  "rscode" text COLLATE "C",
  "seq" double precision,
  "rgcode" text COLLATE "C",
  "sflag" text COLLATE "C",
  "pcflag" text COLLATE "C",
  "Name" text COLLATE "C",
  "Address1" text COLLATE "C",
  "Address2" text COLLATE "C",
  "Address3" text COLLATE "C",
  "Address4" text COLLATE "C",
  "town" text COLLATE "C",
  "county" text COLLATE "C",
  "postcode" text COLLATE "C",
  "rowid" bigint GENERATED ALWAYS AS IDENTITY UNIQUE
);

CREATE INDEX "kvwork_Key1" ON "kvwork" ("mscode" NULLS FIRST, "rowid");

CREATE INDEX "kvwork_Key2" ON "kvwork" ("seq" NULLS FIRST, "mscode" NULLS FIRST, "rowid");

CREATE TABLE "region" (
  "code" bpchar COLLATE "C" PRIMARY KEY,
  "mdreg" double precision,
  "rowid" bigint GENERATED ALWAYS AS IDENTITY UNIQUE
);

CREATE TABLE "pcode" (
  "code" bpchar COLLATE "C" PRIMARY KEY,
  "mdsel" text COLLATE "C",
  "rowid" bigint GENERATED ALWAYS AS IDENTITY UNIQUE
);

CREATE TABLE "sequence" (
  "code" bpchar COLLATE "C" PRIMARY KEY,
  "mdsorts" text COLLATE "C",
  "rowid" bigint GENERATED ALWAYS AS IDENTITY UNIQUE
);

CREATE TABLE "label" (
  "code" bpchar COLLATE "C" PRIMARY KEY,
  "mdlab" text COLLATE "C",
  "rowid" bigint GENERATED ALWAYS AS IDENTITY UNIQUE
);

CREATE TABLE "poprice" (
  "LeW1Fst" double precision,
  "LeW1Snd" double precision,
  "LLWgt1" double precision,
  "LLWgt2" double precision,
  "LLWgt3" double precision,
  "LLW1Fst" double precision,
  "LLW2Fst" double precision,
  "LLW3Fst" double precision,
  "LLW4Fst" double precision,
  "LLW1Snd" double precision,
  "LLW2Snd" double precision,
  "LLW3Snd" double precision,
  "LLW4Snd" double precision,
  "PKWgt1" double precision,
  "PKWgt2" double precision,
  "PKWgt3" double precision,
  "PKWgt4" double precision,
  "PKWgt5" double precision,
  "PKWgt6" double precision,
  "PKWgt7" double precision,
  "PKWgt8" double precision,
  "PKWgt9" double precision,
  "PKW1Fst" double precision,
  "PKW2Fst" double precision,
  "PKW3Fst" double precision,
  "PKW4Fst" double precision,
  "PKW5Fst" double precision,
  "PKW6Fst" double precision,
  "PKW7Fst" double precision,
  "PKW8Fst" double precision,
  "PKW9Fst" double precision,
  "PKW1Snd" double precision,
  "PKW2Snd" double precision,
  "PKW3Snd" double precision,
  "PKW4Snd" double precision,
  "PKW5Snd" double precision,
  "PKW6Snd" double precision,
  "PKW7Snd" double precision,
  "PKW8Snd" double precision,
  "PKW9Snd" double precision,
  "rowid" bigint GENERATED ALWAYS AS IDENTITY UNIQUE
);

CREATE TABLE "price" (
  "code" bpchar COLLATE "C" PRIMARY KEY,
  "LeBase1" double precision,
  "LLWgt1" double precision,
  "LLWgt2" double precision,
  "LLBase1" double precision,
  "LLBase2" double precision,
  "LLExt1" double precision,
  "A3Wgt1" double precision,
  "A3Wgt2" double precision,
  "A3Base1" double precision,
  "A3Base2" double precision,
  "A3Ext1" double precision,
  "PKWgt1" double precision,
  "PKWgt2" double precision,
  "PKWgt3" double precision,
  "PKBase1" double precision,
  "PKBase2" double precision,
  "PKExt1" double precision,
  "PKExt2" double precision,
  "PkBase3" double precision,
  "LeDPtg1" double precision,
  "LeRPtg1" double precision,
  "LLDPtg1" double precision,
  "LLRPtg1" double precision,
  "A3DPtg1" double precision,
  "A3RPtg1" double precision,
  "PKDPtg1" double precision,
  "PKRPtg1" double precision,
  "LeQty1" double precision,
  "LeQty2" double precision,
  "LeQty3" double precision,
  "LeQty4" double precision,
  "LeQty5" double precision,
  "LLQty1" double precision,
  "LLQty2" double precision,
  "LLQty3" double precision,
  "LLQty4" double precision,
  "LLQty5" double precision,
  "A3Qty1" double precision,
  "A3Qty2" double precision,
  "A3Qty3" double precision,
  "A3Qty4" double precision,
  "A3Qty5" double precision,
  "PKQty1" double precision,
  "PKQty2" double precision,
  "PKQty3" double precision,
  "PKQty4" double precision,
  "PKQty5" double precision,
  "LeQ1VRD1" double precision,
  "LeQ2VRD1" double precision,
  "LeQ3VRD1" double precision,
  "LeQ4VRD1" double precision,
  "LeQ5VRD1" double precision,
  "LLQ1VRD1" double precision,
  "LLQ2VRD1" double precision,
  "LLQ3VRD1" double precision,
  "LLQ4VRD1" double precision,
  "LLQ5VRD1" double precision,
  "A3Q1VRD1" double precision,
  "A3Q2VRD1" double precision,
  "A3Q3VRD1" double precision,
  "A3Q4VRD1" double precision,
  "A3Q5VRD1" double precision,
  "PKQ1VRD1" double precision,
  "PKQ2VRD1" double precision,
  "PKQ3VRD1" double precision,
  "PKQ4VRD1" double precision,
  "PKQ5VRD1" double precision,
  "Qty1" double precision,
  "Qty2" double precision,
  "LeQ1DPtg1" double precision,
  "LeQ2DPtg1" double precision,
  "LeQ3DPtg1" double precision,
  "Franking Surcharge" double precision,
  "rowid" bigint GENERATED ALWAYS AS IDENTITY UNIQUE
);
