"""The market store: a folder of Parquet parts and a manifest naming them.

A table (bars of one frequency, securities, calendar, factors, record) is the
concatenation of the parts its manifest lists. An import writes new parts
(under names no part has), then replaces the manifest in one rename: until
then the store reads as it was, and an import stopped half-way leaves only
unlisted parts, removed by the next commit. Nothing already stored is
rewritten.
"""
import json
import os
import uuid
from typing import Any, Dict, List, Optional

import pandas as pd
import pyarrow as pa
import pyarrow.parquet as pq

from velmoro.data.schema import TABLES

__all__ = ["MarketStore", "StoreError"]

_MANIFEST = "manifest.json"
_FORMAT = 1


class StoreError(ValueError):
    """A store that cannot be used as asked: one line for the user."""


class MarketStore:
    """The store at `folder`; with `create`, an empty one when there is
    none yet (its folder is made by the first commit)."""

    def __init__(self, folder: str, create: bool = False):
        self.folder = os.path.abspath(folder)
        path = os.path.join(self.folder, _MANIFEST)
        if not os.path.exists(path):
            if not create:
                raise StoreError("{}: not a market store (no {}; make one with velmoro data import)".format(
                    folder, _MANIFEST))
            self.manifest: Dict[str, Any] = {"format": _FORMAT, "parts": {}}
            return
        try:
            with open(path) as f:
                self.manifest = json.load(f)
        except (OSError, ValueError) as exc:
            raise StoreError("{}: unreadable manifest ({})".format(folder, exc)) from None
        if self.manifest.get("format") != _FORMAT:
            raise StoreError("{}: store format {!r}, this version reads {}".format(
                folder, self.manifest.get("format"), _FORMAT))

    @property
    def version(self) -> str:
        """Names the store's content: changes with every commit."""
        return self.manifest.get("version", "empty")

    def parts(self, table: str) -> List[str]:
        """The table's part files, relative to the folder, in the order written."""
        return list(self.manifest["parts"].get(table, []))

    def read(self, table: str, filter=None, columns=None, dictionaries: bool = False) -> pa.Table:
        """The table (every part, in the order written), cast to its schema;
        with `dictionaries`, its text as dictionaries (each text made once,
        not once a row: what reads of many bars of few securities want)."""
        schema = TABLES[table]
        if dictionaries:
            schema = pa.schema([pa.field(f.name, pa.dictionary(pa.int32(), f.type)) if pa.types.is_string(f.type)
                                else f for f in schema])
        paths = [os.path.join(self.folder, p) for p in self.parts(table)]
        if not paths:
            empty = schema.empty_table()
            return empty.select(columns) if columns else empty
        import pyarrow.dataset as ds

        data = ds.dataset(paths, schema=schema, format="parquet")
        return data.to_table(filter=filter, columns=columns)

    def securities(self) -> pd.DataFrame:
        """The securities table, the last row of each security: what the
        latest import told of it."""
        table = self.read("securities").to_pandas()
        return table.drop_duplicates(["market", "code"], keep="last").reset_index(drop=True)

    def frequencies(self) -> List[str]:
        """The frequencies the store has bars of."""
        return [t.split("/", 1)[1] for t in self.manifest["parts"] if t.startswith("bars/")]

    def commit(self, tables: Dict[str, Optional[pa.Table]]) -> None:
        """Append each table as a new part, then publish all at once."""
        staged = {}
        for name, table in tables.items():
            if table is None or table.num_rows == 0:
                continue
            rel = "{}/part-{}.parquet".format(name, uuid.uuid4().hex)
            path = os.path.join(self.folder, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            _write_atomic(path, _stored_form(table, TABLES[name]))
            staged[name] = rel
        if not staged:
            return
        manifest = json.loads(json.dumps(self.manifest))
        for name, rel in staged.items():
            manifest["parts"].setdefault(name, []).append(rel)
        manifest["version"] = uuid.uuid4().hex[:16]
        _write_atomic(os.path.join(self.folder, _MANIFEST), json.dumps(manifest, indent=1).encode())
        self.manifest = manifest
        self._sweep()

    def _sweep(self):
        """Remove parts no manifest lists: what an interrupted import left."""
        listed = {p for parts in self.manifest["parts"].values() for p in parts}
        for root, _, files in os.walk(self.folder):
            for name in files:
                rel = os.path.relpath(os.path.join(root, name), self.folder)
                if rel.endswith(".parquet") and rel not in listed or name.startswith(".tmp-"):
                    os.remove(os.path.join(root, name))


def _stored_form(table: pa.Table, schema: pa.Schema) -> pa.Table:
    """The table cast to the schema; text given as a dictionary stays one
    (reads cast it back to text)."""
    fields = [pa.field(f.name, pa.dictionary(pa.int32(), f.type))
              if pa.types.is_dictionary(table.schema.field(f.name).type) and pa.types.is_string(f.type) else f
              for f in schema]
    return table.select(schema.names).cast(pa.schema(fields))


def _write_atomic(path, content):
    """Write to a temporary name beside `path`, then rename over it."""
    tmp = os.path.join(os.path.dirname(path), ".tmp-" + uuid.uuid4().hex)
    try:
        if isinstance(content, pa.Table):
            # statistics where reads filter (a day, a time), nowhere else
            # statistics where reads filter (a day, a time); dictionaries for text, prices plain;
            # zstd at its fastest level packs prices better than snappy, in less time
            pq.write_table(content, tmp, row_group_size=1 << 18, write_statistics=["day", "time"],
                           compression="zstd", compression_level=1,
                           use_dictionary=[f.name for f in content.schema if pa.types.is_dictionary(f.type)
                                           or pa.types.is_string(f.type)])
        else:
            with open(tmp, "wb") as f:
                f.write(content)
        with open(tmp, "rb+") as f:
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise
