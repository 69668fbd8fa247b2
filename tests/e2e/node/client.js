// A client of the trawlnest service built by the npm package soap from the service
// description alone.
// usage: node client.js WSDL_FILE USER PASSWORD NAME SEED_FOLDER_URL WORD
// Prints one line per step; the test compares them.
'use strict';
const soap = require('soap');

// soap keeps a typed value as {attributes, $value}; the test wants the values.
function plain(v) {
  if (Array.isArray(v)) return v.map(plain);
  if (v && typeof v === 'object') {
    if ('$value' in v) return v.$value;
    const out = {};
    for (const [k, x] of Object.entries(v)) if (k !== 'attributes') out[k] = plain(x);
    return out;
  }
  return v;
}
// A list member: absent, one item, or several.
function items(list) {
  if (!list || !list.item) return [];
  return Array.isArray(list.item) ? list.item : [list.item];
}
// An argument list of the declared type: soap writes the items the description names.
const list = (values) => ({ item: values });

async function main() {
  const [wsdl, user, password, name, seed, word] = process.argv.slice(2);
  const client = await soap.createClientAsync(wsdl);
  client.setSecurity(new soap.BasicAuthSecurity(user, password));
  // Methods without arguments are called with null: soap then writes the rpc wrapper alone.
  const call = async (method, args) => plain((await client[method + 'Async'](args))[0] || {});

  const folder = seed.replace(/[$()*+.?[\\\]^{|}]/g, '\\$&');
  const source = (await call('AddSource', { cfg: {
    Name: name, Description: 'made by npm soap', Seeds: list([seed]),
    IncludeFilters: list(['^' + folder + '.*$']), CheckRobotsTxt: false, HasSideMetadata: false,
    DepthLimit: 0, Type: 'AUTH_NONE', CookieParams: { Url: '', Action: 'GET', Freshness: 0 },
  } })).info;
  console.log(`source ${source.Source} ${source.Configuration.Type} magic ${source.Magic}`);

  const archive = (await call('AddArchive', { cfg: {
    Name: name, Historicize: false, AdministrativeContact: '', Source: source.Source, Auth: 0,
    SchedulingFrequency: 'DISABLED', SchedulingAttribute: 0, AccessTime: 0, PagesLimit: 0,
    GarbageLimit: 0,
  } })).info;
  const arcid = archive.Archive;
  console.log(`archive ${arcid} ${archive.Configuration.SchedulingFrequency} magic ${archive.Magic}`);

  let info = (await call('StartCrawl', { arcid })).info;
  for (let n = 0; n < 240 && String(info.Crawling) !== 'false'; n++) {
    await new Promise((r) => setTimeout(r, 250));
    info = (await call('GetArchiveInfo', { id: arcid })).info;
  }
  console.log(`crawled documents ${info.Documents}`);

  const status = await call('GetStatus', null);
  const rows = items(status.extendedstatus);
  console.log(`status ${status.status} rows ${rows.length} ${rows[0].Key}`);

  for (const kind of ['Source', 'Archive', 'Collection', 'Watch', 'Index']) {
    const infos = items((await call(`Enum${kind}Configurations`, null)).infos);
    const own = infos.filter((x) => (x.Configuration ? x.Configuration.Name : x.Name) === name);
    console.log(`enum ${kind} ${infos.length} own ${own.length}`);
  }

  const found = await call('Query', { query: {
    Archives: list([arcid]), FirstDoc: 0, LastDoc: 9, MinTime: 0, MaxTime: 0,
    Info: 'INFO_CONTEXT', View: 'VIEW_PUBLISHED', Sort: 'SORT_STANDARD', Parser: 'NETPARSER',
    QueryString: word,
  } });
  console.log(`search ${found.maxresults} ${items(found.results).map((r) => r.Url).join(' ')}`);
}

main().catch((e) => {
  console.error('ERROR', e.message, e.body || '');
  process.exit(1);
});
