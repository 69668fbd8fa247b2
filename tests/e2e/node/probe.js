const soap = require('soap');
(async () => {
  const [wsdl, user, pass] = process.argv.slice(2);
  const client = await soap.createClientAsync(wsdl, {});
  client.setSecurity(new soap.BasicAuthSecurity(user, pass));
  const [st] = await client.GetStatusAsync(null);
  console.log(JSON.stringify(st));
  const [ar] = await client.EnumArchiveConfigurationsAsync(null);
  console.log(JSON.stringify(ar).slice(0, 800));
})().catch(e => { console.error('ERR', e.message, e.body || ''); process.exit(1); });
